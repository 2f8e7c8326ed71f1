"""What every menu item of the main window should be, with no document open and with one.

The journey in test_commands.py walks the real menus and compares them with this table. Each
menu lists its items in order as the program names them in its trace: the command's name, the
submenu's name, or the caption with blanks as "_". A state is 1 (enabled), 0 (grey) or None
(not compared: it depends on the desktop, such as Paste on what the clipboard holds). A
trailing "*" in the trace is a check mark; CHECKED names the ones the journey expects.
"""

# Menus in the order the journey opens them: its trace name, the keys that open it from the
# main window, and the item of its parent menu that must be enabled for it to open at all.
MENUS = [
    ("FileMenu", ["alt+f"], None),
    ("EditMenu", ["alt+e"], None),
    ("EncodingMenu", ["alt+e", "o"], "EncodingMenu"),
    ("SyntaxHighlightingMenu", ["alt+e", "y"], "SyntaxHighlightingMenu"),
    ("SearchMenu", ["alt+s"], None),
    ("HTMLMenu", ["alt+m"], None),
    ("ToolsMenu", ["alt+t"], None),
    ("RExecMenu", ["alt+t", "r"], "RExecMenu"),
    ("WeblinkMenu", ["alt+t", "w"], "WeblinkMenu"),
    ("SettingsMenu", ["alt+i"], None),
    ("ShowToolbarsMenu", ["alt+i", "t"], "ShowToolbarsMenu"),
    ("HelpMenu", ["alt+h"], None),
]

# item: (with no document, with a document)
ITEMS = {
    "FileMenu": [
        ("FileNew", 1, 1),
        ("FileOpen", 1, 1),
        ("FileOpenLocalFile", 1, 1),
        ("ReopenMenu", 0, 0),  # a fresh start has no recent files
        ("FileSave", 0, 1),
        ("FileSaveAs", 0, 1),
        ("FileSaveAsLocalFile", 0, 1),
        ("FileRevert", 0, 1),
        ("FileExportHtml", 0, 1),
        ("FileExportRtf", 0, 1),
        ("FilePrintSetup", 0, 1),
        ("FilePrint", 0, 1),
        ("FileClose", 0, 1),
        ("FileExit", 1, 1),
    ],
    "EditMenu": [
        ("EditUndo", 0, 0),  # nothing typed yet
        ("EditRedo", 0, 0),
        ("EditCut", 0, 0),  # nothing selected
        ("EditCopy", 0, 0),
        ("EditPaste", 0, None),
        ("EditSelectAll", 0, 1),
        ("EditIndent", 0, 1),
        ("EditUnindent", 0, 1),
        ("EditWordWrap", 0, 1),
        ("EncodingMenu", 0, 1),
        ("SyntaxHighlightingMenu", 0, 1),
        ("EditEditorProperties", 0, 1),
    ],
    "EncodingMenu": [
        ("EditEncodingUTF-8", 1, 1),
        ("EditEncodingWindows-1252", 1, 1),
        ("EditEncodingISO-8859-1", 1, 1),
        ("EditEncodingISO-8859-15", 1, 1),
    ],
    # One item per highlighter (the list grows with the languages): see ANY_ITEMS.
    "SyntaxHighlightingMenu": [],
    "SearchMenu": [
        ("SearchFind", 0, 1),
        ("SearchFindNext", 0, 1),
        ("SearchReplace", 0, 1),
        ("SearchUseRegularExpressions", 0, 1),
        ("SearchGotoLine", 0, 1),
    ],
    "HTMLMenu": [
        ("HTMLBold", 0, 1),
        ("HTMLItalic", 0, 1),
        ("HTMLUnderline", 0, 1),
        ("HTMLComment", 0, 1),
        ("HTMLLink", 0, 1),
        ("HTMLStripTags", 0, 1),
    ],
    "ToolsMenu": [
        ("RExecMenu", 1, 1),
        ("WeblinkMenu", 1, 1),
    ],
    "RExecMenu": [
        ("RExecSettings", 1, 1),
    ],
    "WeblinkMenu": [
        ("WeblinkSettings", 1, 1),
    ],
    "SettingsMenu": [
        ("SettingsOptions", 1, 1),
        ("SettingsAccounts", 1, 1),
        ("ShowToolbarsMenu", 1, 1),
        ("SettingsShowOutput", 1, 1),
    ],
    "ShowToolbarsMenu": [
        ("ShowToolbarMain", 1, 1),
        ("ShowToolbarEdit", 1, 1),
        ("ShowToolbarHTML", 1, 1),
    ],
    "HelpMenu": [
        ("HelpHelpTopics", 1, 1),
        ("HelpAbout", 1, 1),
    ],
}

# Menus that the user's own entries follow (one item per weblink or remote command): only the
# items listed above are compared, the user's after them are not.
USER_ITEMS = {"RExecMenu", "WeblinkMenu"}

# Menus whose items are whatever the program lists (item names not compared), each with this
# state (no document, a document).
ANY_ITEMS = {"SyntaxHighlightingMenu": (1, 1)}

# Check marks expected with the journey's document (an HTML file) open.
CHECKED = {
    "EncodingMenu": ["EditEncodingUTF-8"],
    "SyntaxHighlightingMenu": ["HTML"],
    "ShowToolbarsMenu": ["ShowToolbarMain", "ShowToolbarEdit", "ShowToolbarHTML"],
}

# Commands whose behaviour is built on another branch: until it is merged they stay grey here,
# so the journey reports them instead of failing. Delete an entry once the command works.
PENDING = {}
