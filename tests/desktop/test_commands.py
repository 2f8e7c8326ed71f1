"""Every menu item is enabled exactly when the command table says, with no document and with
one; File > New makes documents whose first Save asks for a place."""

import subprocess
import time
import unittest

import command_table
import desktop


def parse(line):
    """'menu FileMenu: FileNew=1 ReopenMenu=0 ...' -> ('FileMenu', [(name, enabled, checked)])."""
    head, _, items = line.partition(":")
    out = []
    for item in items.split():
        name, _, state = item.rpartition("=")
        out.append((name, state.startswith("1"), state.endswith("*")))
    return head[len("menu "):], out


class Commands(desktop.DesktopTestCase):
    def menu_lines(self, app):
        return [parse(e) for e in app.trace() if e.startswith("menu ")]

    def open_menu(self, app, name, keys):
        """Opens a menu with its keys and returns its items as the program showed them."""
        seen = len(self.menu_lines(app))
        app.key(*keys)

        def shown():
            for menu, items in self.menu_lines(app)[seen:]:
                if menu == name:
                    return items
            return None
        items = self.wait_for(shown, "the %s to open" % name)
        app.key("Escape", "Escape", "Escape")
        # The next menu's keys must reach the window, not the closing popup.
        time.sleep(0.2)
        return items

    def walk(self, app, column, overrides=None):
        """Opens every menu that can open; returns the differences from the table (or from
        overrides, item: state, where the journey has changed what the table assumes) and the
        pending commands met."""
        problems, pending = [], []
        states = {}
        for name, keys, parent_item in command_table.MENUS:
            if parent_item and not states.get(parent_item, False):
                continue  # a grey submenu does not open
            items = self.open_menu(app, name, keys)
            expected = command_table.ITEMS[name]
            if name in command_table.ANY_ITEMS:
                expected = [(i[0],) + command_table.ANY_ITEMS[name] for i in items]
                if not expected:
                    problems.append("%s is empty" % name)
            if name in command_table.USER_ITEMS:
                items = items[:len(expected)]
            shown_names = [i[0] for i in items]
            if shown_names != [e[0] for e in expected]:
                problems.append("%s shows %s, the table lists %s"
                                % (name, shown_names, [e[0] for e in expected]))
                continue
            for (item, enabled, checked), entry in zip(items, expected):
                states[item] = enabled
                want = (overrides or {}).get(item, entry[column])
                if want is None or bool(want) == enabled:
                    continue
                if item in command_table.PENDING and not enabled:
                    pending.append(item)
                    continue
                problems.append("%s > %s is %s" % (name, item,
                                                   "enabled" if enabled else "grey"))
            if column == 2:
                marked = [i[0] for i in items if i[2]]
                if name in command_table.CHECKED and marked != command_table.CHECKED[name]:
                    problems.append("%s marks %s" % (name, marked))
        return problems, pending

    def test_every_menu_item_follows_the_command_table(self):
        app = self.start_morvane()
        problems, pending = self.walk(app, 1)
        self.assertEqual(problems, [], "with no document")

        app.key("ctrl+l")
        app.wait_for_dialog("Open local file")
        path = self.write_file("page.html", b"<p>x</p>\n")
        app.type(path)
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("Open local file"), "the file dialog to close")
        app.focus()
        problems, pending_open = self.walk(app, 2)
        self.assertEqual(problems, [], "with page.html open")

        # Word wrap's check mark follows the document.
        self.open_menu(app, "EditMenu", ["alt+e"])
        app.key("alt+e", "w")
        items = dict((i[0], i[2]) for i in self.open_menu(app, "EditMenu", ["alt+e"]))
        self.assertTrue(items["EditWordWrap"], "word wrap marked after turning it on")

        # Closing the last document greys the group again; the file is now a recent one.
        app.key("ctrl+F4")
        problems, _ = self.walk(app, 1, {"ReopenMenu": 1})
        self.assertEqual(problems, [], "after closing the last document")
        if pending + pending_open:
            print("\nnot built on this branch yet: " + ", ".join(sorted(set(pending + pending_open))))

    def set_demo_account(self):
        done = subprocess.run([self.executable, "--set-demo-account", "127.0.0.1", "9", "user",
                               "-", "/"], input=b"secret\n", env=self.environment(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        self.assertEqual(done.returncode, 0, done.stdout)

    def test_a_new_html_page_is_remote_and_its_first_save_opens_the_browser_to_save(self):
        self.set_demo_account()
        app = self.start_morvane()
        app.key("ctrl+n")
        app.wait_for_dialog("New items")
        app.key("ctrl+Tab")  # from Scripts to Web, where the HTML5 page comes first
        app.key("Return")
        self.wait_for(lambda: not app.dialogs("New items"), "the New items dialog to close")
        app.focus()
        app.type("x")
        app.key("ctrl+s")
        app.wait_for_dialog("Save file")
        # The template stayed as shipped.
        with open(self.dir + "/home/Templates/Web/HTML5 page.html", "rb") as f:
            self.assertTrue(f.read().startswith(b"<!DOCTYPE html>"))

    def test_a_new_local_file_asks_for_a_local_path_on_its_first_save(self):
        app = self.start_morvane()
        app.key("ctrl+n")
        app.wait_for_dialog("New items")
        # Without an account "New local file" starts checked; Blank makes an empty document.
        app.key("alt+b")
        self.wait_for(lambda: not app.dialogs("New items"), "the New items dialog to close")
        app.focus()
        app.type("hello")
        app.key("ctrl+s")
        app.wait_for_dialog("Save As")
        app.type(self.path("hello.txt"))
        app.key("Return")
        self.wait_for(lambda: self.read_file("hello.txt") == b"hello", "the new file")


if __name__ == "__main__":
    unittest.main()
