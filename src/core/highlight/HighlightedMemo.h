#pragma once
// An editor control without a window that highlights: the core control with the highlighter
// slots, wired as the Qt control wires them. Tools, tests and benchmarks use it.

#include "core/editor/CustomCodeMemo.h"
#include "core/highlight/ExportLook.h"
#include "core/highlight/ParserSlots.h"

namespace morvane::highlight {

class THighlightedMemo : public editor::TCustomCodeMemo, public TParserSlots {
public:
    using editor::TCustomCodeMemo::TCustomCodeMemo;

    editor::TExportLook ExportLook() const override {
        editor::TExportLook look = editor::TCustomCodeMemo::ExportLook();
        ApplyExportSettings(look, Settings());
        return look;
    }
    void PrepareExport() override { HighlightAll(); }

protected:
    void DirtyRecordHandedOver(editor::RecIndex rec) override { HighlightDirtyRecord(rec); }
    void TextEdited(editor::TextOffset start, editor::TextOffset extent) override {
        HighlightTextEdited(start, extent);
    }
    void ApplySettings() override {
        ApplySettingsRecord();
        Invalidate();
    }
};

} // namespace morvane::highlight
