// The settings store: named values under one key of the current user's store, read and
// written one at a time. Qt-free. Called on the GUI thread only.
//
//   WriteSetting(TSettingsRoot::CurrentUser, kTarvolinKey, "Window Left", 8);
//   int left = ReadSetting(TSettingsRoot::CurrentUser, kTarvolinKey, "Window Left", 8).AsInteger();
//
// Reading returns the default's kind; data stored under another kind or size reads as the
// default; every failure is swallowed. Value names match without regard to case and keep the
// spelling first written.
#pragma once

#include "app/SettingsRegText.h"

#include <cstdint>
#include <memory>
#include <string>

// Key path of all the program's values.
extern const char* const kTarvolinKey;  // "Verholt-Products\Tarvolin"

enum class TSettingsRoot { CurrentUser, LocalMachine };

// Kinds of a setting value. Stored: Int16, Int32, UInt8 (32-bit integer), Single, Double,
// DateTime (8-byte double), Currency (8-byte count of ten-thousandths), Text, Boolean
// (32-bit integer 1/0). The others are neither stored nor read.
enum class TSettingKind : uint8_t {
    Empty,
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    UInt32,
    Int64,
    UInt64,
    Single,
    Double,
    Currency,
    DateTime,
    Text,
    Boolean,
};

bool IsStoredKind(TSettingKind kind);

class TSettingValue {
public:
    TSettingValue() = default;  // Empty
    TSettingValue(int32_t v) : mKind(TSettingKind::Int32), mInt(v) {}
    TSettingValue(bool v) : mKind(TSettingKind::Boolean), mInt(v ? 1 : 0) {}
    TSettingValue(double v) : mKind(TSettingKind::Double), mReal(v) {}
    TSettingValue(const char* v) : mKind(TSettingKind::Text), mText(v ? v : "") {}
    TSettingValue(std::string v) : mKind(TSettingKind::Text), mText(std::move(v)) {}

    static TSettingValue OfInt8(int8_t v) { return Integral(TSettingKind::Int8, v); }
    static TSettingValue OfUInt8(uint8_t v) { return Integral(TSettingKind::UInt8, v); }
    static TSettingValue OfInt16(int16_t v) { return Integral(TSettingKind::Int16, v); }
    static TSettingValue OfUInt16(uint16_t v) { return Integral(TSettingKind::UInt16, v); }
    static TSettingValue OfUInt32(uint32_t v) { return Integral(TSettingKind::UInt32, v); }
    static TSettingValue OfInt64(int64_t v) { return Integral(TSettingKind::Int64, v); }
    static TSettingValue OfUInt64(uint64_t v);
    static TSettingValue OfSingle(float v);
    static TSettingValue OfCurrency(int64_t tenThousandths) { return Integral(TSettingKind::Currency, tenThousandths); }
    static TSettingValue OfDateTime(double daysSince18991230);

    TSettingKind Kind() const { return mKind; }

    // Conversions for the caller. Integral kinds, Boolean (0/1) and Currency (whole units,
    // halves to even) give integers saturated to the target; reals round halves to even (NaN
    // gives 0); text parses as a decimal integer or gives 0.
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    // Integral raw value: the integer, 1/0, the currency count; 0 for other kinds.
    int64_t RawInteger() const { return mInt; }
    double AsDouble() const;  // Currency in units, DateTime in days
    bool AsBoolean() const;   // any non-zero number; text "true" or a non-zero integer
    std::string AsText() const;

    bool operator==(const TSettingValue& o) const;
    bool operator!=(const TSettingValue& o) const { return !(*this == o); }

private:
    static TSettingValue Integral(TSettingKind k, int64_t v)
    {
        TSettingValue r;
        r.mKind = k;
        r.mInt = v;
        return r;
    }

    TSettingKind mKind = TSettingKind::Empty;
    int64_t mInt = 0;     // integral kinds, Boolean, Currency; UInt64 bit pattern
    double mReal = 0;     // Single, Double, DateTime
    std::string mText;    // Text
};

// Raw storage behind WriteSetting/ReadSetting: one key path under a root, typed data per
// value name. The file back end is TSettingsFile (app/SettingsFile.h); a platform registry
// back end implements the same.
class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;
    // False when the key or value does not exist or cannot be read.
    virtual bool ReadValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                           TRegData& out) = 0;
    // Replaces any earlier value of that name whatever its type; false on failure, with the
    // earlier value (or nothing) left in place.
    virtual bool WriteValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                            const TRegData& data) = 0;
};

// A store held in memory (tests, screenshots). Names and key paths match without regard to case.
class TMemorySettingsStore : public TSettingsStore {
public:
    bool ReadValue(TSettingsRoot root, const std::string& keyPath, const std::string& name, TRegData& out) override;
    bool WriteValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                    const TRegData& data) override;
    const TRegDocument& Document() const { return mDoc; }
    int Writes() const { return mWrites; }

private:
    TRegDocument mDoc;
    int mWrites = 0;
};

// Encoding of a value as stored; false for the kinds that are not stored.
bool EncodeSetting(const TSettingValue& value, TRegData& out);
// Stored data read as the default's kind; the default when kind, type or size do not fit.
TSettingValue DecodeSetting(const TRegData& data, const TSettingValue& def);

// Store one value; never throws, never reports.
void WriteSetting(TSettingsStore& store, TSettingsRoot root, const std::string& keyPath,
                  const std::string& name, const TSettingValue& value);
// Fetch one value, the default on any failure; never throws.
TSettingValue ReadSetting(TSettingsStore& store, TSettingsRoot root, const std::string& keyPath,
                          const std::string& name, const TSettingValue& def);

// The same on the process's current store (the default file unless one was set).
void WriteSetting(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                  const TSettingValue& value);
TSettingValue ReadSetting(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                          const TSettingValue& def);

// The process's current store; set once at start (GUI thread), before any window reads.
void SetSettingsStore(std::shared_ptr<TSettingsStore> store);
std::shared_ptr<TSettingsStore> CurrentSettingsStore();
