#include "core/editor/DataTransfer.h"

#include <vector>

namespace morvane::editor {

TDataFormat ChooseDropFormat(std::uint16_t s) {
    if (s & dsHtml) return TDataFormat::Html;
    if (s & dsPlainText) return TDataFormat::PlainText;
    if (s & dsUnicodeText) return TDataFormat::UnicodeText;
    if (s & dsFileList) return TDataFormat::FileList;
    return TDataFormat::None;
}

TDataFormat ChoosePasteFormat(std::uint16_t s) {
    if (s & dsPlainText) return TDataFormat::PlainText;
    if (s & dsHtml) return TDataFormat::Html;
    return TDataFormat::None;
}

std::string FilterHtml(std::string_view html, std::uint16_t s) {
    if ((s & dsTakeAsIs) || !(s & (dsHtmlFragment | dsHtmlFromTag))) return std::string(html);
    auto tag = html.find('<');
    html = tag == std::string_view::npos ? std::string_view() : html.substr(tag);
    if (!(s & dsHtmlFragment)) return std::string(html);
    constexpr std::string_view kStart = "<!--StartFragment-->", kEnd = "<!--EndFragment-->";
    if (auto b = html.find(kStart); b != std::string_view::npos)
        html.remove_prefix(b + kStart.size());
    if (auto e = html.find(kEnd); e != std::string_view::npos) html = html.substr(0, e);
    return std::string(html);
}

std::optional<TDropPlan> PlanDrop(TextOffset dropPoint, TextOffset selStart, TextOffset selEnd,
                                  bool fromThisControl, bool move) {
    // A move onto its own edge would change nothing either; a copy there duplicates the text.
    bool inside = move ? dropPoint >= selStart && dropPoint <= selEnd
                       : dropPoint > selStart && dropPoint < selEnd;
    if (fromThisControl && selStart < selEnd && inside) return std::nullopt;
    TDropPlan plan{false, dropPoint};
    if (move && fromThisControl && selStart < selEnd) {
        plan.deleteSelection = true;
        if (dropPoint > selEnd) plan.insertAt -= selEnd - selStart;
    }
    return plan;
}

std::string FileListText(const std::vector<std::string>& files) {
    std::string text;
    for (const auto& f : files) {
        text += f;
        text += '\n';
    }
    return text;
}

} // namespace morvane::editor
