#include "kqutility/identity/KQYChange.h"

#include <fmt/format.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/foundation/KQUClock.h"
#include "kqutility/foundation/KQULocale.h"
#include "kqutility/foundation/KQUUnicode.h"

namespace kqu {

namespace {

double dateOrNow(std::optional<double> date) {
    return date ? *date : KQUWallClockSeconds();
}

std::string shortDateTimeUTF8(double date) {
    return KQUUTF8FromUTF16(KQYShortDateTimeString(date));
}

int compareValues(double a, double b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Rectangles overlap with a positive area (an empty one overlaps nothing).
bool intersects(const KQURect& a, const KQURect& b) {
    if (a.size.width <= 0 || a.size.height <= 0 || b.size.width <= 0 || b.size.height <= 0) return false;
    return a.origin.x < b.origin.x + b.size.width && b.origin.x < a.origin.x + a.size.width &&
           a.origin.y < b.origin.y + b.size.height && b.origin.y < a.origin.y + a.size.height;
}

// The two attribute sets of the tool tip, made once per process.
const KQUAttributedString::Attributes& toolTipAttributes(bool bold) {
    static std::once_flag sOnce;
    static KQUAttributedString::Attributes sPlain, sBold;
    std::call_once(sOnce, [] {
        sPlain[KQUFontAttributeName] = KQUFontAttributeValue(KQUSystemFontName, KQUSystemFontSize);
        sBold[KQUFontAttributeName] = KQUFontAttributeValue(KQUBoldSystemFontName, KQUSystemFontSize);
    });
    return bold ? sBold : sPlain;
}

}  // namespace

std::string KQYChangeAuthorProtocol::description() const {
    return KQUUTF8FromUTF16(name());
}

std::u16string KQYShortDateTimeString(double date) {
    icu::Locale locale(KQULocale::current().identifier().c_str());
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icu::DateFormat::kShort, icu::DateFormat::kShort, locale));
    if (!format) return {};
    icu::UnicodeString text;
    format->format(static_cast<UDate>(date * 1000.0), text);
    return std::u16string(text.getBuffer(), static_cast<size_t>(text.length()));
}

// --- KQYSession -----------------------------------------------------------------------------

KQYSession::KQYSession(uint32_t sessionValue, KQYAuthorRef author, std::optional<double> date)
    : mSessionValue(sessionValue), mAuthor(std::move(author)), mDate(dateOrNow(date)) {}

std::shared_ptr<const KQYSession> KQYSession::makeAfter(const KQYSession* previous, KQYAuthorRef author,
                                                        std::optional<double> date) {
    return std::make_shared<const KQYSession>(previous ? previous->mSessionValue + 1 : 0, std::move(author),
                                              date);
}

int KQYSession::compare(const KQYSession* other) const {
    if (other == this) return 0;
    if (!other) return 1;
    if (mSessionValue == other->mSessionValue) return 0;
    return mSessionValue > other->mSessionValue ? 1 : -1;
}

bool KQYSession::matchesSession(const KQYSession& other) const {
    if (mSessionValue != other.mSessionValue) return false;
    if (!mAuthor || !other.mAuthor || !mAuthor->isEqualToAuthor(*other.mAuthor)) return false;
    float difference = static_cast<float>(std::fabs(mDate - other.mDate));
    return !std::isnan(difference) && difference <= 1.0f;
}

std::string KQYSession::description() const {
    return fmt::format("<KQYSession {}> #{} {} ({})", static_cast<const void*>(this), mSessionValue,
                       shortDateTimeUTF8(mDate), mAuthor ? mAuthor->description() : std::string("(null)"));
}

// --- KQYChange ------------------------------------------------------------------------------

KQYChange::KQYChange(KQYSessionRef session, std::optional<double> date, std::shared_ptr<const void>)
    : mSession(std::move(session)), mDate(dateOrNow(date)) {}

void KQYChange::setSession(KQYSessionRef session) {
    if (session != mSession) mSession = std::move(session);
}

KQYAuthorRef KQYChange::author() const {
    return mSession ? mSession->author() : nullptr;
}

KQYColorSetRef KQYChange::colorSet() const {
    KQYAuthorRef a = author();
    return a ? a->colorSet() : nullptr;
}

void KQYChange::touch() {
    mDate = KQUWallClockSeconds();
}

bool KQYChange::syncChangeTrackingSessionsWithSessionManager(KQYSessionManager& manager) {
    KQYSessionRef matching = manager.changeTrackingSessionMatchingSession(mSession);
    if (!matching) return false;
    setSession(std::move(matching));
    return true;
}

int KQYChange::dateCompare(const KQYChange& other) const {
    return compareValues(mDate, other.mDate);
}

int KQYChange::bubbleOrderCompare(const KQYChange& other) const {
    if (&other == this) return 0;
    if (pageIndex() != other.pageIndex()) return pageIndex() < other.pageIndex() ? -1 : 1;
    if (isAncestorOfChange(other)) return -1;
    if (other.isAncestorOfChange(*this)) return 1;

    int level = hierarchyLevel(), otherLevel = other.hierarchyLevel();
    if (level > otherLevel) {
        if (int r = parentChange()->bubbleOrderCompare(other)) return r;
    } else if (otherLevel > level) {
        // The other is deeper: its parent stands in for it, and the answer stays ours.
        if (int r = bubbleOrderCompare(*other.parentChange())) return r;
    } else if (KQYChange* parent = parentChange(), *otherParent = other.parentChange();
               parent && otherParent && parent != otherParent) {
        if (int r = parent->bubbleOrderCompare(*otherParent)) return r;
    }

    bool grouped = parentChange() || firstChildLeaf();
    bool otherGrouped = other.parentChange() || other.firstChildLeaf();
    if (grouped != otherGrouped) {
        const KQYChange& member = grouped ? *this : other;
        const KQYChange& loner = grouped ? other : *this;
        KQURect groupBox = member.hierarchyLevel() <= 1 ? member.hierarchicalBoundsOnPage()
                                                        : member.parentChange()->hierarchicalBoundsOnPage();
        KQURect box = loner.boundsOnPage();
        if (box.size.width == 0) box.size.width = 1.0;
        if (box.size.height == 0) box.size.height = 1.0;
        if (intersects(groupBox, box)) return grouped ? 1 : -1;  // the ungrouped one first
    }

    KQUPoint mine = containerBounds().origin, theirs = other.containerBounds().origin;
    if (int r = compareValues(mine.y, theirs.y)) return r;
    if (int r = compareValues(mine.x, theirs.x)) return r;
    mine = boundsOnPage().origin;
    theirs = other.boundsOnPage().origin;
    if (int r = compareValues(mine.y, theirs.y)) return r;
    if (int r = compareValues(mine.x, theirs.x)) return r;
    return dateCompare(other);
}

std::u16string KQYChange::changeDescriptionWithKind(int) const {
    KQU_OBJECT_ASSERT_FAILURE("Must be overridded");
    return {};
}

std::u16string KQYChange::changeTextWithCharLimit(unsigned) const {
    return u"?";
}

std::optional<std::u16string> KQYChange::originalChangeTextWithCharLimit(unsigned) const {
    return std::nullopt;
}

KQUAttributedString KQYChange::toolTipText() const {
    std::u16string text;
    if (KQYAuthorRef a = author()) text = a->name();
    text += u"   ";
    text += KQYShortDateTimeString(mDate);
    text += u"\n";
    uint64_t boldStart = text.size();
    std::u16string changeDescriptionText = changeDescription();
    text += changeDescriptionText;
    text += u": ";
    text += changeTextWithCharLimit(200);
    KQUAttributedString tip(std::move(text), toolTipAttributes(false));
    tip.addAttribute(KQUFontAttributeName, toolTipAttributes(true).at(KQUFontAttributeName),
                     KQURange{boldStart, changeDescriptionText.size() + 1});
    return tip;
}

std::string KQYChange::levelDescription() const {
    int level = hierarchyLevel();
    return level == 0 ? std::string() : fmt::format(" Level: {}", level);
}

std::string KQYChange::description() const {
    auto address = [](const void* p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); };
    return fmt::format("{} 0x{:08x} [{}] {}{} Parent: 0x{:08x} {}{}",
                       detail::demangledTypeName(typeid(*this)), address(this),
                       mSession ? mSession->description() : std::string("(null)"), shortDateTimeUTF8(mDate),
                       levelDescription(), address(parentChange()), KQUUTF8FromUTF16(changeDescription()),
                       supplementalDescription());
}

bool KQYChange::setVisibleUI(bool visible) {
    if (visible == !mHiddenUI) return false;
    mHiddenUI = !visible;
    return true;
}

int KQYChange::hierarchyLevel() const {
    int level = 0;
    for (const KQYChange* p = parentChange(); p; p = p->parentChange()) ++level;
    return level;
}

bool KQYChange::isAncestorOfChange(const KQYChange& other) const {
    for (const KQYChange* p = other.parentChange(); p; p = p->parentChange())
        if (p == this) return true;
    return false;
}

const KQYChange* KQYChange::rootChange() const {
    const KQYChange* parent = parentChange();
    if (!parent) return childChanges().empty() ? nullptr : this;
    while (const KQYChange* above = parent->parentChange()) parent = above;
    return parent;
}

bool KQYChange::isLeafChange() const {
    return parentChange() && childChanges().empty();
}

const KQYChange* KQYChange::firstChildLeaf() const {
    for (const KQYChange* child : childChanges()) {
        if (!child) continue;
        if (!child->childChanges().empty()) {
            if (const KQYChange* leaf = child->firstChildLeaf()) return leaf;
        } else if (!child->isUmbrellaChange()) {
            return child;
        }
    }
    return nullptr;
}

bool KQYChange::hasOnlyOneLeaf() const {
    std::vector<KQYChange*> children = childChanges();
    return children.size() == 1 && children[0] &&
           (children[0]->isLeafChange() || children[0]->hasOnlyOneLeaf());
}

bool KQYChange::hasMixedAuthors(const KQYChangeAuthorProtocol* author,
                                std::vector<KQYColorSetRef>* mixedColorSets) const {
    std::vector<KQYChange*> children = childChanges();
    if (!children.empty()) {
        bool mixed = false;
        for (const KQYChange* child : children) {
            if (child && child->hasMixedAuthors(author, mixedColorSets)) {
                mixed = true;
                if (!mixedColorSets) break;
            }
        }
        return mixed;
    }
    KQYAuthorRef mine = this->author();
    bool same = (!mine && !author) || (mine && author && mine->isEqualToAuthor(*author));
    if (same) return false;
    if (mixedColorSets) {
        auto add = [&](KQYColorSetRef colorSet) {
            // A missing colour set is nothing to show: it is not collected.
            if (colorSet &&
                std::find(mixedColorSets->begin(), mixedColorSets->end(), colorSet) == mixedColorSets->end())
                mixedColorSets->push_back(std::move(colorSet));
        };
        if (mixedColorSets->empty() && author) add(author->colorSet());
        if (mine) add(mine->colorSet());
    }
    return true;
}

}  // namespace kqu
