#pragma once
// TIni: reads or writes one value at a time in an INI file; each call opens the file afresh,
// except between BeginUpdate and EndUpdate, where the writes are gathered into one.
#include <cstdint>
#include <string>
#include <variant>

#include "platform/Component.h"
#include "platform/Profile.h"

namespace qv {

enum class TiniType { DsBoolean = 0, DsInteger = 1, DsString = 2 };

// The variant that Value holds: unassigned, Boolean, integer or text.
class TVariant {
public:
    TVariant() = default;
    TVariant(bool b) : v_(b) {}
    TVariant(int32_t i) : v_(i) {}
    TVariant(const char* s) : v_(std::string(s)) {}
    TVariant(std::string s) : v_(std::move(s)) {}

    bool IsBool() const { return std::holds_alternative<bool>(v_); }
    bool IsInt() const { return std::holds_alternative<int32_t>(v_); }
    bool IsString() const { return std::holds_alternative<std::string>(v_); }

    // The usual variant conversions; a text that is not a number raises EConvertError.
    bool ToBool() const;
    int32_t ToInt() const;
    std::string ToString() const;

    bool operator==(const TVariant&) const = default;

private:
    std::variant<std::monostate, bool, int32_t, std::string> v_;
};

class TIni : public TComponent {
public:
    static constexpr const char* kMissingString = "__@#!%$^";
    static constexpr int32_t kMissingInteger = -12121212;

    explicit TIni(TComponent* owner) : TComponent(owner) {}

    const std::string& FileName() const { return file_name_; }
    void SetFileName(std::string v) { file_name_ = std::move(v); }
    TiniType DataType() const { return data_type_; }
    void SetDataType(TiniType v) { data_type_ = v; }
    const TVariant& Value() const { return value_; }
    void SetValue(TVariant v) { value_ = std::move(v); }
    const std::string& Section() const { return section_; }
    void SetSection(std::string v) { section_ = std::move(v); }
    const std::string& Ident() const { return ident_; }
    void SetIdent(std::string v) { ident_ = std::move(v); }

    // True when the key was found; Value gets the value (the sentinel when missing).
    bool Read();
    // True when the value was stored (between BeginUpdate and EndUpdate: accepted for the
    // file's one write); Value is unchanged.
    bool Write();
    // Gathers the following writes; EndUpdate stores them, in their order, with one write of
    // the file (the same text as writing each by itself) and is true when all were stored.
    void BeginUpdate();
    bool EndUpdate();

private:
    bool OpenFile();

    std::string file_name_;
    TiniType data_type_ = TiniType::DsBoolean;
    TVariant value_;
    std::string section_;
    std::string ident_;
    bool updating_ = false;
    std::string pending_file_, pending_section_;
    ProfileEntries pending_;
};

}  // namespace qv
