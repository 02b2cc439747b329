#include "settings/RestoreEngine.h"

namespace vornic::settings {

namespace {

RestoreObserver& quiet() {
    static RestoreObserver none;
    return none;
}

// Sends the calls in order, stopping at the first that fails. Returns how many went through.
size_t sendAll(RestoreLink& link, const std::vector<OpCall>& calls, RestoreObserver& observer,
               bool& ok) {
    size_t sent = 0;
    ok = true;
    for (const OpCall& call : calls) {
        const LinkStep step = link.send(call);
        if (!step.ok) {
            observer.failed(step);
            ok = false;
            break;
        }
        ++sent;
    }
    return sent;
}

// After a restore that did not fully take: sends the earlier values of whatever changed, reads
// back and says what could not be put back.
void putBack(RestoreLink& link, RestoreObserver& observer, const RestoreOptions& options,
             RestoreResult& result) {
    const SettingsImage earlier = wholeImage(result.before);
    result.putBackPlan = restorePlan(earlier, link.settings());
    const std::string& what = result.what;
    if (result.putBackPlan.empty()) {
        result.end = RestoreResult::End::PutBack;
        result.message = what +
                         "; nothing else had changed, so the controller holds its earlier "
                         "settings";
        return;
    }
    observer.puttingBack();
    bool sentOk = false;
    sendAll(link, result.putBackPlan, observer, sentOk);
    const LinkStep again = sentOk ? link.readBack() : LinkStep{};
    if (!sentOk || !again.ok) {
        if (!again.ok) {
            observer.failed(again);
        }
        result.end = RestoreResult::End::PutBackFailed;
        result.message =
            what +
            (link.interrupted() ? "; interrupted while putting back the earlier settings, so the "
                                  "controller may hold part of "
                                : "; putting back the earlier settings failed, so the controller "
                                  "may hold part of ") +
            options.whose;
        return;
    }
    result.notPutBack = differences(earlier, link.settings());
    observer.putBack(result.notPutBack, result.putBackPlan.size());
    if (!result.notPutBack.empty()) {
        result.end = RestoreResult::End::NotAllPutBack;
        result.message = what + "; " + std::to_string(result.notPutBack.size()) +
                         " of the changed settings could not be put back";
    } else {
        result.end = RestoreResult::End::PutBack;
        result.message = what + "; the settings that had changed were put back and verified";
    }
}

}  // namespace

RestoreResult restoreSettings(RestoreLink& link, const SettingsImage& image,
                              const RestoreOptions& options, RestoreObserver* observerOrNull) {
    RestoreObserver& observer = observerOrNull != nullptr ? *observerOrNull : quiet();
    RestoreResult result;
    result.before = link.settings();
    result.asked = restorePlan(image, link.settings());
    if (result.asked.empty()) {
        return result;
    }
    bool sentOk = false;
    result.sent = sendAll(link, result.asked, observer, sentOk);
    // An interrupted send reads nothing back here: the interrupt's own read-back follows.
    const LinkStep again = sentOk || !link.interrupted() ? link.readBack() : LinkStep{};
    if (link.interrupted()) {
        // An interrupt ends a restore as a setting that did not take does: what changed is put
        // back. A second interrupt ends the putting back at once.
        result.interrupted = true;
        link.clearInterrupted();
        observer.readingBackAfterInterrupt();
        result.what = "the restore was interrupted";
        const LinkStep now = link.readBack();
        if (!now.ok) {
            observer.failed(now);
            result.end = RestoreResult::End::ReadBackFailed;
            result.message =
                result.what +
                (link.interrupted() ? "; interrupted again before anything was put back"
                                    : "; cannot read the controller back") +
                ", so the controller may hold part of " + options.whose;
            return result;
        }
        putBack(link, observer, options, result);
        return result;
    }
    if (!again.ok) {
        observer.failed(again);
        result.end = RestoreResult::End::ReadBackFailed;
        result.what = "cannot read the controller back";
        result.message = result.what + "; it may hold part of " + options.whose;
        return result;
    }
    result.notTaken = differences(image, link.settings());
    observer.verified(result.notTaken, result.asked.size());
    if (sentOk && result.notTaken.empty()) {
        result.end = RestoreResult::End::Verified;
        return result;
    }
    result.what = result.notTaken.empty()
                      ? std::string("the restore did not finish")
                      : std::to_string(result.notTaken.size()) + " setting(s) did not take";
    if (options.keepPartial) {
        result.end = RestoreResult::End::KeptPartial;
        result.message = result.what + "; the others were kept";
        return result;
    }
    putBack(link, observer, options, result);
    return result;
}

}  // namespace vornic::settings
