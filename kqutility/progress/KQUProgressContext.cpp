#include "kqutility/progress/KQUProgressContext.h"

#include <cmath>

#include "kqutility/diagnostics/KQUAssertionHandler.h"
#include "kqutility/diagnostics/KQULog.h"
#include "kqutility/foundation/KQUClock.h"

namespace kqu {

namespace {
constexpr const char* kDebugKey = "ProgressDebug";
constexpr const char* kFile = "KQUProgressContext.cpp";
constexpr double kEpsilon = 1e-13;
constexpr int64_t kReportInterval = 100'000'000;  // 0.1 s in nanoseconds

thread_local std::unique_ptr<KQUProgressContext> tContext;

// A count that is not a positive number would make the stage stand still (0) or poison
// every position above it (NaN); such a stage counts as one step.
double sanitizedSteps(double steps) { return (std::isnan(steps) || steps <= 0) ? 1.0 : steps; }
}  // namespace

KQUProgressStage::KQUProgressStage(KQUProgressContext& context) : m_context(&context) {}

KQUProgressStage::KQUProgressStage(double steps, double takingSteps, std::unique_ptr<KQUProgressStage> parent,
                                   KQUProgressContext& context)
    : m_totalSteps(sanitizedSteps(steps)),
      m_stepsInParent(takingSteps),
      m_startInParent(parent ? parent->currentPosition() : 0),
      m_parentStage(std::move(parent)),
      m_context(&context) {}

void KQUProgressStage::setProgress(double position) {
    double past = position - m_totalSteps;
    if (past > kEpsilon || std::isnan(past)) {
        KQULogIf(kDebugKey, KQULogLevelError, "({}:{}): Progress {:g} advanced past end of stage {:g}.", kFile,
                 __LINE__, position, m_totalSteps);
        KQULogWarning("({}:{}): Progress {:g} advanced past end of stage {:g}.", kFile, __LINE__, position,
                      m_totalSteps);
        position = m_totalSteps;
    }
    if (m_currentPosition - position > kEpsilon) {
        KQULogIf(kDebugKey, KQULogLevelError,
                 "({}:{}): Progress {:g} should always go forwards (last {:g}, difference {:g}).", kFile, __LINE__,
                 position, m_currentPosition, position - m_currentPosition);
        KQULogWarning("({}:{}): Progress {:g} should always go forwards (last {:g}, difference {:g}).", kFile,
                      __LINE__, position, m_currentPosition, position - m_currentPosition);
    }
    if (position == m_currentPosition) return;
    m_currentPosition = position;
    if (!m_parentStage) {
        m_context->reportProgress(position);
    } else {
        m_parentStage->setProgress(position / m_totalSteps * m_stepsInParent + m_startInParent);
    }
}

KQUProgressContext::KQUProgressContext() : m_currentStage(std::make_unique<KQUProgressStage>(*this)) {}

KQUProgressContext::~KQUProgressContext() {
    // Unwind iteratively: each stage owns its parent, and a deep chain must not recurse.
    while (m_currentStage) m_currentStage = m_currentStage->takeParentStage();
}

void KQUProgressContext::createContextForCurrentThread() {
    KQU_ASSERT(!tContext, "There should be only one progress context per thread.");
    tContext = std::make_unique<KQUProgressContext>();
}

void KQUProgressContext::removeContextForCurrentThread() { tContext.reset(); }

bool KQUProgressContext::contextExistsForCurrentThread() { return tContext != nullptr; }

const KQUProgressContext* KQUProgressContext::currentContext() { return tContext.get(); }

void KQUProgressContext::createStageWithSteps(double steps) {
    if (!tContext) return;
    KQUProgressStage& current = tContext->currentStage();
    double share = current.nextSubStageParentSize();
    current.setNextSubStageParentSize(1.0);
    createStageWithSteps(steps, share);
}

void KQUProgressContext::createStageWithSteps(double steps, double takingSteps) {
    if (!tContext) return;
    if (!(takingSteps > 0))
        KQULogIf(kDebugKey, KQULogLevelError, "({}:{}): createStageWithSteps: taking steps not a positive number: {:g}",
                 kFile, __LINE__, takingSteps);
    KQUProgressContext& context = *tContext;
    context.m_currentStage =
        std::make_unique<KQUProgressStage>(steps, takingSteps, std::move(context.m_currentStage), context);
}

void KQUProgressContext::endStage() {
    if (!tContext) return;
    KQUProgressContext& context = *tContext;
    if (!context.m_currentStage->parentStage()) {
        // Ending the root would leave no current stage at all; the root stays.
        KQULogIf(kDebugKey, KQULogLevelError, "({}:{}): endStage called with only the root stage open; ignored.",
                 kFile, __LINE__);
        KQULogWarning("({}:{}): endStage called with only the root stage open; ignored.", kFile, __LINE__);
        return;
    }
    context.m_currentStage->end();
    context.m_currentStage = context.m_currentStage->takeParentStage();
}

void KQUProgressContext::advanceProgress(double steps) {
    if (tContext) tContext->currentStage().advanceProgress(steps);
}

void KQUProgressContext::setProgress(double position) {
    if (tContext) tContext->currentStage().setProgress(position);
}

double KQUProgressContext::currentPosition() { return tContext ? tContext->currentStage().currentPosition() : 0.0; }

void KQUProgressContext::nextSubStageWillTakeThisManyOfMySteps(double steps) {
    if (tContext) tContext->currentStage().setNextSubStageParentSize(steps);
}

KQUObserverToken KQUProgressContext::addProgressObserver(const void* observer,
                                                        KQUNotificationCenter::Callback callback) {
    if (!tContext) return 0;
    return KQUNotificationCenter::defaultCenter().addObserver(observer, KQUProgressNotification, tContext.get(),
                                                              std::move(callback));
}

void KQUProgressContext::removeProgressObserver(const void* observer) {
    KQUNotificationCenter::defaultCenter().removeObserver(observer, KQUProgressNotification, nullptr);
}

void KQUProgressContext::setMessage(const std::string& message) {
    KQUNotificationCenter::defaultCenter().postNotificationName(KQUProgressNotification, tContext.get(),
                                                                {{KQUProgressMessage, KQUValue(message)}});
}

void KQUProgressContext::reportProgress(double percentage) {
    int64_t now = KQUClockNanoseconds();
    if (m_lastReportTime && now - *m_lastReportTime <= kReportInterval && percentage < 100 &&
        percentage - m_lastProgressReport < 5.0) {
        KQULogIf(kDebugKey, KQULogLevelError,
                 "Not reporting progress {:f} because insufficient time and progress has elapsed since last report "
                 "({:f}).",
                 percentage, m_lastProgressReport);
        return;
    }
    KQULogIf(kDebugKey, KQULogLevelError, "Reporting progress {:f}", percentage);
    KQUNotificationCenter::defaultCenter().postNotificationName(
        KQUProgressNotification, this,
        {{KQUProgressPercentage, KQUValue(static_cast<double>(static_cast<float>(percentage)))}});
    m_lastReportTime = now;
    m_lastProgressReport = percentage;
}

}  // namespace kqu
