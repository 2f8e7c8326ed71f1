#pragma once
// The six highlighter slots of an editor control and the settings record it uses: the active
// highlighter's, or the control's own while that slot is empty.

#include "highlight/CodeMemoParser.h"
#include "highlight/SM_Settings.h"

#include <array>

namespace morvane::highlight {

class TParserSlots {
public:
    static constexpr int kSlotCount = 6;

    TParserSlots() = default;
    virtual ~TParserSlots() = default;
    TParserSlots(const TParserSlots&) = delete;
    TParserSlots& operator=(const TParserSlots&) = delete;

    // Slots are numbered 1 to 6; another number raises ECodeMemo "Parser index out of range".
    TCodeMemoParser* Parser(int slot) const;
    void SetParser(int slot, TCodeMemoParser* parser);
    int ActiveParser() const { return active_; }
    void SetActiveParser(int slot);
    // The highlighter of the active slot; null when it is empty.
    TCodeMemoParser* Active() const { return slots_[active_ - 1]; }

    // The settings record in use.
    TSM_Settings& Settings() { return Active() ? Active()->settings() : ownSettings_; }
    const TSM_Settings& Settings() const { return Active() ? Active()->settings() : ownSettings_; }
    TSM_Settings& OwnSettings() { return ownSettings_; }

protected:
    // The active slot's highlighter (and with it the settings record) changed.
    virtual void SettingsSourceChanged() {}

private:
    static void checkSlot(int slot);
    std::array<TCodeMemoParser*, kSlotCount> slots_{};
    int active_ = 1;
    TSM_Settings ownSettings_;
};

} // namespace morvane::highlight
