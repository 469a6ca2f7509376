#include "app/Settings.h"

#include "app/SettingsFile.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

const char* const kTarvolinKey = "Verholt-Products\\Tarvolin";

namespace {

template <typename T>
T saturate(int64_t v)
{
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (v > static_cast<int64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

// Round halves to even (the default FP rounding mode), saturated; NaN gives 0.
int64_t roundEven(double d)
{
    if (std::isnan(d)) return 0;
    const double r = std::nearbyint(d);
    if (r <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    if (r >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(r);
}

std::string le64(uint64_t v)
{
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

uint64_t fromLe64(const std::string& s)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[i]);
    return v;
}

std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

uint32_t fromLe32(const std::string& s)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[i]);
    return v;
}

uint64_t doubleBits(double d)
{
    uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

double bitsDouble(uint64_t u)
{
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

bool isDwordKind(TSettingKind k)
{
    return k == TSettingKind::Int16 || k == TSettingKind::Int32 || k == TSettingKind::UInt8 ||
           k == TSettingKind::Boolean;
}

bool isRealKind(TSettingKind k)
{
    return k == TSettingKind::Single || k == TSettingKind::Double || k == TSettingKind::DateTime;
}

std::shared_ptr<TSettingsStore>& currentStore()
{
    static std::shared_ptr<TSettingsStore> store;
    return store;
}

}  // namespace

bool IsStoredKind(TSettingKind kind)
{
    return isDwordKind(kind) || isRealKind(kind) || kind == TSettingKind::Currency || kind == TSettingKind::Text;
}

TSettingValue TSettingValue::OfUInt64(uint64_t v)
{
    int64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return Integral(TSettingKind::UInt64, bits);
}

TSettingValue TSettingValue::OfSingle(float v)
{
    TSettingValue r;
    r.mKind = TSettingKind::Single;
    r.mReal = v;
    return r;
}

TSettingValue TSettingValue::OfDateTime(double days)
{
    TSettingValue r;
    r.mKind = TSettingKind::DateTime;
    r.mReal = days;
    return r;
}

int64_t TSettingValue::AsInt64() const
{
    switch (mKind) {
    case TSettingKind::Empty: return 0;
    case TSettingKind::UInt64: return mInt < 0 ? std::numeric_limits<int64_t>::max() : mInt;
    case TSettingKind::Currency: {
        // Whole units, halves to even.
        const int64_t q = mInt / 10000, r = mInt % 10000;
        if (r > 5000 || (r == 5000 && (q & 1))) return q + 1;
        if (r < -5000 || (r == -5000 && (q & 1))) return q - 1;
        return q;
    }
    case TSettingKind::Single:
    case TSettingKind::Double:
    case TSettingKind::DateTime: return roundEven(mReal);
    case TSettingKind::Text: {
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(mText.c_str(), &end, 10);
        if (mText.empty() || *end != '\0' || errno != 0) return 0;
        return v;
    }
    default: return mInt;
    }
}

int32_t TSettingValue::AsInteger() const { return saturate<int32_t>(AsInt64()); }

double TSettingValue::AsDouble() const
{
    switch (mKind) {
    case TSettingKind::Single:
    case TSettingKind::Double:
    case TSettingKind::DateTime: return mReal;
    case TSettingKind::Currency: return static_cast<double>(mInt) / 10000.0;
    case TSettingKind::UInt64: return static_cast<double>(static_cast<uint64_t>(mInt));
    case TSettingKind::Text: {
        char* end = nullptr;
        const double d = std::strtod(mText.c_str(), &end);
        return (mText.empty() || *end != '\0') ? 0.0 : d;
    }
    default: return static_cast<double>(mInt);
    }
}

bool TSettingValue::AsBoolean() const
{
    switch (mKind) {
    case TSettingKind::Single:
    case TSettingKind::Double:
    case TSettingKind::DateTime: return mReal != 0;
    case TSettingKind::Text: return SameName(mText, "true") || AsInt64() != 0;
    default: return mInt != 0;
    }
}

std::string TSettingValue::AsText() const
{
    switch (mKind) {
    case TSettingKind::Empty: return {};
    case TSettingKind::Text: return mText;
    case TSettingKind::Boolean: return mInt ? "True" : "False";
    case TSettingKind::UInt64: return std::to_string(static_cast<uint64_t>(mInt));
    case TSettingKind::Single:
    case TSettingKind::Double:
    case TSettingKind::DateTime:
    case TSettingKind::Currency: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", AsDouble());
        return buf;
    }
    default: return std::to_string(mInt);
    }
}

bool TSettingValue::operator==(const TSettingValue& o) const
{
    if (mKind != o.mKind) return false;
    if (isRealKind(mKind)) return doubleBits(mReal) == doubleBits(o.mReal);
    if (mKind == TSettingKind::Text) return mText == o.mText;
    return mInt == o.mInt;
}

bool EncodeSetting(const TSettingValue& value, TRegData& out)
{
    const TSettingKind k = value.Kind();
    if (isDwordKind(k)) {
        out.type = kRegDword;
        out.bytes = le32(static_cast<uint32_t>(static_cast<int32_t>(value.RawInteger())));
    } else if (isRealKind(k)) {
        out.type = kRegBinary;
        out.bytes = le64(doubleBits(value.AsDouble()));
    } else if (k == TSettingKind::Currency) {
        out.type = kRegBinary;
        out.bytes = le64(static_cast<uint64_t>(value.RawInteger()));
    } else if (k == TSettingKind::Text) {
        // The platform stores a NUL-terminated string: text after a NUL is not kept.
        const std::string t = value.AsText();
        out.type = kRegSz;
        out.bytes = t.substr(0, t.find('\0'));
    } else {
        return false;
    }
    return true;
}

TSettingValue DecodeSetting(const TRegData& data, const TSettingValue& def)
{
    const TSettingKind k = def.Kind();
    if (isDwordKind(k)) {
        if (data.type != kRegDword || data.bytes.size() != 4) return def;
        const int32_t v = static_cast<int32_t>(fromLe32(data.bytes));
        switch (k) {
        case TSettingKind::Boolean: return TSettingValue(v != 0);
        case TSettingKind::Int16:
            if (v < INT16_MIN || v > INT16_MAX) return def;
            return TSettingValue::OfInt16(static_cast<int16_t>(v));
        case TSettingKind::UInt8:
            if (v < 0 || v > UINT8_MAX) return def;
            return TSettingValue::OfUInt8(static_cast<uint8_t>(v));
        default: return TSettingValue(v);
        }
    }
    if (isRealKind(k) || k == TSettingKind::Currency) {
        if (data.type != kRegBinary || data.bytes.size() != 8) return def;
        const uint64_t bits = fromLe64(data.bytes);
        if (k == TSettingKind::Currency) return TSettingValue::OfCurrency(static_cast<int64_t>(bits));
        const double d = bitsDouble(bits);
        if (k == TSettingKind::DateTime) return TSettingValue::OfDateTime(d);
        if (k == TSettingKind::Single) {
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return def;
            return TSettingValue::OfSingle(static_cast<float>(d));
        }
        return TSettingValue(d);
    }
    if (k == TSettingKind::Text) {
        if (data.type != kRegSz && data.type != kRegExpandSz) return def;
        return TSettingValue(data.bytes);
    }
    return def;
}

bool TMemorySettingsStore::ReadValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                                     TRegData& out)
{
    if (root != TSettingsRoot::CurrentUser) return false;
    const TRegKey* key = mDoc.FindKey(keyPath);
    const TRegValue* v = key ? key->Find(name) : nullptr;
    if (!v) return false;
    out = v->data;
    return true;
}

bool TMemorySettingsStore::WriteValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                                      const TRegData& data)
{
    if (root != TSettingsRoot::CurrentUser || keyPath.empty()) return false;
    mDoc.AddKey(keyPath).Set(name, data);
    ++mWrites;
    return true;
}

void WriteSetting(TSettingsStore& store, TSettingsRoot root, const std::string& keyPath, const std::string& name,
                  const TSettingValue& value)
{
    try {
        TRegData data;
        if (EncodeSetting(value, data)) store.WriteValue(root, keyPath, name, data);
    } catch (...) {
        // Every failure is swallowed; the earlier value stays.
    }
}

TSettingValue ReadSetting(TSettingsStore& store, TSettingsRoot root, const std::string& keyPath,
                          const std::string& name, const TSettingValue& def)
{
    try {
        if (!IsStoredKind(def.Kind())) return def;
        TRegData data;
        if (!store.ReadValue(root, keyPath, name, data)) return def;
        return DecodeSetting(data, def);
    } catch (...) {
        return def;
    }
}

void SetSettingsStore(std::shared_ptr<TSettingsStore> store) { currentStore() = std::move(store); }

std::shared_ptr<TSettingsStore> CurrentSettingsStore()
{
    auto& s = currentStore();
    if (!s) {
        try {
            s = std::make_shared<TSettingsFile>(DefaultSettingsFile());
        } catch (...) {
            s = std::make_shared<TMemorySettingsStore>();
        }
    }
    return s;
}

void WriteSetting(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                  const TSettingValue& value)
{
    if (auto s = CurrentSettingsStore()) WriteSetting(*s, root, keyPath, name, value);
}

TSettingValue ReadSetting(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                          const TSettingValue& def)
{
    auto s = CurrentSettingsStore();
    return s ? ReadSetting(*s, root, keyPath, name, def) : def;
}
