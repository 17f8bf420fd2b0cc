// A per-thread, bounded cache of fully configured ICU DecimalFormats (internal: includes
// ICU; the number and date code of the library uses it, callers never see it).
//
// Building a DecimalFormat costs tens of microseconds, parsing with one about one, so
// everything that parses or renders numbers asks this cache instead of building its own.
// A formatter is described by a KQUDecimalFormatConfig holding its whole configuration;
// two equal configurations give the same formatter. Each formatter is configured exactly once, in
// the order symbols, currency, pattern, digits, and never changed afterwards: the order
// matters in ICU (a currency set after the pattern replaces the pattern's fraction
// digits with the currency's), and a formatter that is never reconfigured cannot leak one
// caller's settings into another's.
//
// Each thread has its own cache (ICU formatters are not shared between threads here), so
// lookups take no lock. Entries built under an older locale generation are dropped on
// the next lookup, and the least recently used entry goes when the cache is full. The
// shared_ptr handed out keeps its formatter alive even after eviction.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include <unicode/decimfmt.h>

namespace kqu {

enum class KQUDecimalFormatStyle : uint8_t {
    Pattern,     // no style: the config's pattern is applied
    Decimal,     // the locale's decimal style
    Currency,    // the locale's currency style
    Percent,     // the locale's percent style
    Scientific,  // the locale's scientific style
};

struct KQUDecimalFormatConfig {
    std::string locale = {};  // ICU locale identifier
    KQUDecimalFormatStyle style = KQUDecimalFormatStyle::Pattern;
    std::u16string pattern = {};   // applied after the currency; ignored for the locale styles
    std::u16string currency = {};  // ISO 4217 code; empty: the locale's
    int minimumFractionDigits = -1;  // -1: as the pattern says
    int maximumFractionDigits = -1;
    int minimumIntegerDigits = -1;
    int grouping = -1;  // -1: as the pattern says; 0 off; 1 on
    std::optional<std::u16string> minusSign = std::nullopt;  // replaces the locale's minus sign text
    int roundingMode = -1;                    // an icu::DecimalFormat::ERoundingMode, -1: ICU's default
    bool parseNoExponent = false;             // only an exponent-free text parses
    double roundingIncrement = -1;            // -1: as the pattern and currency say; 0 none

    bool operator==(const KQUDecimalFormatConfig&) const = default;
    size_t hash() const;
};

struct KQUDecimalFormatConfigHash {
    size_t operator()(const KQUDecimalFormatConfig& config) const { return config.hash(); }
};

class KQUDecimalFormatCache {
public:
    static constexpr size_t kDefaultCapacity = 2048;

    // The calling thread's cache.
    static KQUDecimalFormatCache& forCurrentThread();

    // The formatter for config, built on first request; nullptr when ICU refuses the
    // configuration (a malformed pattern, an unknown locale style).
    std::shared_ptr<const icu::DecimalFormat> formatter(const KQUDecimalFormatConfig& config);

    void setCapacity(size_t capacity);
    size_t size() const { return mEntries.size(); }
    // Formatters built by all threads' caches since the process started.
    static uint64_t formattersBuilt() { return sBuilt.load(std::memory_order_relaxed); }

private:
    using Entry = std::pair<KQUDecimalFormatConfig, std::shared_ptr<const icu::DecimalFormat>>;

    std::list<Entry> mEntries;  // most recently used first
    std::unordered_map<KQUDecimalFormatConfig, std::list<Entry>::iterator, KQUDecimalFormatConfigHash> mIndex;
    size_t mCapacity = kDefaultCapacity;
    uint64_t mGeneration = 0;
    static std::atomic<uint64_t> sBuilt;
};

}  // namespace kqu
