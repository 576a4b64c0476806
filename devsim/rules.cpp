// Scripted failures: a method's nth call, or the nth call of any method, answers an error,
// before or after it acts; or the cable is pulled and every call from some point on fails.
// Each rule counts from the moment it is set, so a test can arm it right before the step.
#include "devsim_internal.h"

namespace {
struct CallRule {
    std::string method;
    bool anyObject;
    std::wstring objectId;
    int nth;
    HRESULT hr;
    bool afterActing;
    int seen;
};
struct ValueErrorRule {
    bool anyObject;
    std::wstring objectId;
    SimValueError error;
    int nth;   // 0: every call
    int seen;
};
struct Rules {
    std::vector<CallRule> calls;
    std::vector<ValueErrorRule> valueErrors;
    long sweepNth = 0;
    HRESULT sweepHr = S_OK;
    long sweepSeen = 0;
    long pullAfter = -1;   // calls left before the cable is pulled; -1: connected
    long pullSeen = 0;
};
Rules &Script()
{
    static Rules rules;
    return rules;
}
}  // namespace

HRESULT SimCheckRules(const char *method, const wchar_t *objectId, HRESULT *afterActing)
{
    DevsimLock lock;
    Rules &r = Script();
    HRESULT result = S_OK;
    if (afterActing) *afterActing = S_OK;
    if (r.pullAfter >= 0 && ++r.pullSeen > r.pullAfter) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    for (CallRule &rule : r.calls) {
        if (rule.method != method) continue;
        if (!rule.anyObject && (!objectId || rule.objectId != objectId)) continue;
        rule.seen++;
        if (rule.seen != rule.nth) continue;
        if (rule.afterActing && afterActing) {
            if (SUCCEEDED(*afterActing)) *afterActing = rule.hr;
        } else if (SUCCEEDED(result)) {
            result = rule.hr;
        }
    }
    if (r.sweepNth > 0) {
        r.sweepSeen++;
        if (r.sweepSeen == r.sweepNth && SUCCEEDED(result)) result = r.sweepHr;
    }
    return result;
}

void SimResetRules()
{
    DevsimLock lock;
    Script() = Rules();
}

void DevsimFailCall(const char *method, int nth, HRESULT hr, const wchar_t *objectId, DevsimWhen when)
{
    DevsimLock lock;
    CallRule rule;
    rule.method = method;
    rule.anyObject = (objectId == nullptr);
    rule.objectId = objectId ? objectId : L"";
    rule.nth = nth;
    rule.hr = hr;
    rule.afterActing = (when == DEVSIM_AFTER_ACTING);
    rule.seen = 0;
    Script().calls.push_back(rule);
}

void DevsimFailNthCall(long nth, HRESULT hr)
{
    DevsimLock lock;
    Script().sweepNth = nth;
    Script().sweepHr = hr;
    Script().sweepSeen = 0;
}

void DevsimPullCableAfter(long calls)
{
    DevsimLock lock;
    Script().pullAfter = calls < 0 ? 0 : calls;
    Script().pullSeen = 0;
}

void DevsimClearRules() { SimResetRules(); }

void DevsimValueError(const wchar_t *objectId, const PROPERTYKEY *key, int nth, HRESULT hr)
{
    DevsimLock lock;
    ValueErrorRule rule;
    rule.anyObject = (objectId == nullptr);
    rule.objectId = objectId ? objectId : L"";
    rule.error.anyKey = (key == nullptr);
    rule.error.key = key ? *key : PROPERTYKEY{};
    rule.error.hr = hr;
    rule.nth = nth;
    rule.seen = 0;
    Script().valueErrors.push_back(rule);
}

std::vector<SimValueError> SimValueErrorsForCall(const wchar_t *objectId)
{
    DevsimLock lock;
    std::vector<SimValueError> errors;
    for (ValueErrorRule &rule : Script().valueErrors) {
        if (!rule.anyObject && (!objectId || rule.objectId != objectId)) continue;
        rule.seen++;
        if (rule.nth == 0 || rule.seen == rule.nth) errors.push_back(rule.error);
    }
    return errors;
}
