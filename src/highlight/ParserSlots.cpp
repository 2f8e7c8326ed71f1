#include "highlight/ParserSlots.h"

#include "editor/CodeMemoError.h"

namespace morvane::highlight {

void TParserSlots::checkSlot(int slot) {
    if (slot < 1 || slot > kSlotCount) throw editor::ECodeMemo("Parser index out of range");
}

TCodeMemoParser* TParserSlots::Parser(int slot) const {
    checkSlot(slot);
    return slots_[slot - 1];
}

void TParserSlots::SetParser(int slot, TCodeMemoParser* parser) {
    checkSlot(slot);
    if (slots_[slot - 1] == parser) return;
    slots_[slot - 1] = parser;
    if (slot == active_) SettingsSourceChanged();
}

void TParserSlots::SetActiveParser(int slot) {
    checkSlot(slot);
    if (slot == active_) return;
    TCodeMemoParser* before = Active();
    active_ = slot;
    if (Active() != before) SettingsSourceChanged();
}

} // namespace morvane::highlight
