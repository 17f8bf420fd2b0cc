#include "kqutility/interchange/KQURegisteredDefaults.h"

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUPropertyList.h"

namespace kqu {

namespace {

std::optional<KQUValueDictionary> defaultsOf(const KQUBundle& bundle, std::string* why) {
    std::optional<KQUValue> list;
    if (auto path = bundle.pathForResource("Defaults", "plist")) {
        list = KQUPropertyListFromFile(*path, why);
    } else if (auto bytes = bundle.resourceContents("Defaults", "plist")) {
        list = KQUPropertyListFromBytes(*bytes, why);
    } else {
        *why = "no Defaults.plist";
        return std::nullopt;
    }
    if (!list) return std::nullopt;
    if (!list->dictionary()) {
        *why = "Defaults.plist does not hold a dictionary";
        return std::nullopt;
    }
    return *list->dictionary();
}

bool isInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

bool KQURegisterDefaultsFromBundle(KQUUserDefaults& defaults, const KQUBundle& bundle) {
    std::string why;
    auto dictionary = defaultsOf(bundle, &why);
    if (!dictionary) return false;
    defaults.registerDefaults(*dictionary);
    return true;
}

void KQURegisterDefaultsFromFrameworksAndApplication(KQUUserDefaults& defaults) {
    auto main = KQUBundle::mainBundle();
    if (!main) return;
    std::string frameworks = main->privateFrameworksPath();
    if (!frameworks.empty()) {
        for (const auto& framework : KQUBundle::loadedFrameworks()) {
            if (!framework || !isInside(framework->bundlePath(), frameworks)) break;
            std::string why;
            if (auto dictionary = defaultsOf(*framework, &why))
                defaults.registerDefaults(*dictionary);
            else if (why != "no Defaults.plist")
                KQULog(10, "Skipping the defaults of {}: {}", framework->bundlePath(), why);
        }
    }
    KQURegisterDefaultsFromBundle(defaults, *main);
}

KQUValue KQULocalizedPList(const KQUValue& value) {
    if (const KQUValueArray* array = value.array()) {
        KQUValueArray out;
        out.reserve(array->size());
        for (const KQUValue& element : *array) out.push_back(KQULocalizedPList(element));
        return KQUValue(std::move(out));
    }
    const KQUValueDictionary* dictionary = value.dictionary();
    if (!dictionary) return value;
    const KQUValue* localizable = value.find(KQULocalizableKey);
    if (!localizable) {
        KQUValueDictionary out;
        out.reserve(dictionary->size());
        for (const auto& [key, element] : *dictionary) out.emplace_back(key, KQULocalizedPList(element));
        return KQUValue(std::move(out));
    }
    if (dictionary->size() == 1) return KQULocalizedPList(*localizable);
    // The kind of the "_LOCALIZABLE_" value decides the result; every value of the
    // dictionary (that one included) is merged into it in insertion order.
    if (localizable->dictionary()) {
        KQUValueDictionary merged;
        for (const auto& [key, part] : *dictionary) {
            KQUValue resolved = KQULocalizedPList(part);
            const KQUValueDictionary* entries = resolved.dictionary();
            KQU_ASSERT(entries, "KQULocalizedPList() - expected dictionary");
            if (!entries) continue;
            for (const auto& [k, v] : *entries) KQUDictionarySet(merged, k, v);
        }
        return KQUValue(std::move(merged));
    }
    if (localizable->array()) {
        KQUValueArray joined;
        for (const auto& [key, part] : *dictionary) {
            KQUValue resolved = KQULocalizedPList(part);
            const KQUValueArray* elements = resolved.array();
            KQU_ASSERT(elements, "KQULocalizedPList() - expected array");
            if (!elements) continue;
            joined.insert(joined.end(), elements->begin(), elements->end());
        }
        return KQUValue(std::move(joined));
    }
    KQU_ASSERT_FAILURE("KQULocalizedPList() - unexpected type");
    return value;
}

}  // namespace kqu
