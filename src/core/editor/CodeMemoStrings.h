#pragma once
// A list of strings, and the one that reads and writes an editor control's lines.

#include "core/editor/Streams.h"
#include "core/editor/TextTypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace morvane::editor {

class TCustomCodeMemo;

class TStrings {
public:
    virtual ~TStrings() = default;
    virtual std::int64_t Count() const = 0;
    virtual std::string Get(std::int64_t i) const = 0;
    virtual void Put(std::int64_t i, std::string_view s) = 0;
    virtual void Insert(std::int64_t i, std::string_view s) = 0;
    virtual void Delete(std::int64_t i) = 0;
    virtual void Clear() = 0;
    virtual std::string GetText() const;
    virtual void SetText(std::string_view text);
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
    // Every string followed by CR LF.
    virtual void SaveToStream(TStream& stream) const;
    virtual void Assign(const TStrings& source);

    void Add(std::string_view s) { Insert(Count(), s); }
};

class TStringList : public TStrings {
public:
    TStringList() = default;
    explicit TStringList(std::vector<std::string> items) : items_(std::move(items)) {}
    std::int64_t Count() const override { return static_cast<std::int64_t>(items_.size()); }
    std::string Get(std::int64_t i) const override {
        return items_.at(static_cast<std::size_t>(i));
    }
    void Put(std::int64_t i, std::string_view s) override {
        items_.at(static_cast<std::size_t>(i)) = s;
    }
    void Insert(std::int64_t i, std::string_view s) override;
    void Delete(std::int64_t i) override;
    void Clear() override { items_.clear(); }

private:
    std::vector<std::string> items_;
};

// Lines are the control's records: a long line held in several records is several strings.
class TCodeMemoStrings : public TStrings {
public:
    explicit TCodeMemoStrings(TCustomCodeMemo& memo) : memo_(memo) {}
    std::int64_t Count() const override;
    std::string Get(std::int64_t i) const override;
    void Put(std::int64_t i, std::string_view s) override;
    void Insert(std::int64_t i, std::string_view s) override;
    void Delete(std::int64_t i) override;
    void Clear() override;
    // The whole text with CR LF line ends.
    std::string GetText() const override;
    void SetText(std::string_view text) override;
    void BeginUpdate() override;
    void EndUpdate() override;
    void SaveToStream(TStream& stream) const override;
    void Assign(const TStrings& source) override;

    void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

private:
    void CheckIndex(std::int64_t i, std::int64_t limit) const;
    TCustomCodeMemo& memo_;
};

} // namespace morvane::editor
