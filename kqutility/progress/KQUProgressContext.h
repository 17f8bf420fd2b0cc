// Progress of long work, told as nested stages by modules that know nothing of one
// another. Each module describes its own work as a stage of N steps and advances through
// it; every stage is mapped into the share of its parent's steps that the parent gave it,
// up to a root stage that counts from 0 to 100 per cent. Observers hear
// KQUProgressNotification (user info KQUProgressPercentage, a single-precision number) at
// most every 0.1 s of the monotonic clock (KQUClock) unless the progress moved by 5 or
// reached 100, and KQUProgressMessage from setMessage().
//
//     KQUProgressContext::createContextForCurrentThread();
//     KQUProgressContext::createStageWithSteps(files.size());
//     for (auto& file : files) { copy(file); KQUProgressContext::advanceProgress(1); }
//     KQUProgressContext::endStage();
//
// All state is per thread: the context is a thread_local owned by the thread and destroyed
// at its end (or by removeContextForCurrentThread()), so two threads report
// independently, and every static member acts on the calling thread's context. Without a
// context every call is a no-op, so code may report progress unconditionally. Misuse never
// throws: backward moves are logged and applied, overshoots logged and clamped; ending the
// root stage is logged and ignored. Notifications are posted on the reporting thread, on
// the default centre, with the context's address as object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kqutility/foundation/KQUNotificationCenter.h"

namespace kqu {

inline constexpr const char* KQUProgressNotification = "KQUProgressNotification";
inline constexpr const char* KQUProgressPercentage = "KQUProgressPercentage";
inline constexpr const char* KQUProgressMessage = "KQUProgressMessage";

class KQUProgressContext;

class KQUProgressStage {
public:
    // The root: position 0 of 100 steps, no parent.
    explicit KQUProgressStage(KQUProgressContext& context);
    // A stage of steps steps standing for takingSteps of parent's; takes parent over.
    KQUProgressStage(double steps, double takingSteps, std::unique_ptr<KQUProgressStage> parent,
                     KQUProgressContext& context);
    KQUProgressStage(const KQUProgressStage&) = delete;
    KQUProgressStage& operator=(const KQUProgressStage&) = delete;

    void advanceProgress(double steps) { setProgress(m_currentPosition + steps); }
    void setProgress(double position);
    // Moves to the end, which moves the parent to the end of this stage's share.
    void end() { setProgress(m_totalSteps); }

    KQUProgressStage* parentStage() const { return m_parentStage.get(); }
    std::unique_ptr<KQUProgressStage> takeParentStage() { return std::move(m_parentStage); }
    double currentPosition() const { return m_currentPosition; }
    double totalSteps() const { return m_totalSteps; }
    double nextSubStageParentSize() const { return m_nextSubStageParentSize; }
    void setNextSubStageParentSize(double size) { m_nextSubStageParentSize = size; }

private:
    double m_currentPosition = 0;
    double m_totalSteps = 100;
    double m_stepsInParent = 0;
    double m_startInParent = 0;
    double m_nextSubStageParentSize = 1.0;
    std::unique_ptr<KQUProgressStage> m_parentStage;
    KQUProgressContext* m_context;  // the context owns this stage (through the chain)
};

class KQUProgressContext {
public:
    static void createContextForCurrentThread();
    static void removeContextForCurrentThread();
    static bool contextExistsForCurrentThread();
    // The calling thread's context, or nullptr; for identifying notifications.
    static const KQUProgressContext* currentContext();

    static void createStageWithSteps(double steps);
    static void createStageWithSteps(double steps, double takingSteps);
    static void endStage();
    static void advanceProgress(double steps);
    static void setProgress(double position);
    static double currentPosition();
    static void nextSubStageWillTakeThisManyOfMySteps(double steps);
    // Registers callback for this thread's context's progress notifications (0 without a
    // context); removeProgressObserver(observer) undoes every registration of observer.
    static KQUObserverToken addProgressObserver(const void* observer, KQUNotificationCenter::Callback callback);
    static void removeProgressObserver(const void* observer);
    static void setMessage(const std::string& message);

    KQUProgressContext();
    ~KQUProgressContext();
    KQUProgressContext(const KQUProgressContext&) = delete;
    KQUProgressContext& operator=(const KQUProgressContext&) = delete;

    KQUProgressStage& currentStage() { return *m_currentStage; }
    // Posts percentage unless too little time and progress passed since the last report.
    void reportProgress(double percentage);

private:
    std::unique_ptr<KQUProgressStage> m_currentStage;
    std::optional<int64_t> m_lastReportTime;  // monotonic nanoseconds
    double m_lastProgressReport = 0;
};

}  // namespace kqu
