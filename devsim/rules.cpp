// Scripted failures: a method's nth call, or the nth call of any method, answers an error,
// before or after it acts; or the cable is pulled and every call from some point on fails.
// Each rule counts from the moment it is set, so a test can arm it right before the step.
#include <string.h>
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
    std::vector<ValueErrorRule> setValuesErrors;
    long busyFrom = 0, busyTimes = 0, busyEvery = 0, requestsSeen = 0, phoneRequestsSeen = 0;
    long sweepNth = 0;
    HRESULT sweepHr = S_OK;
    long sweepSeen = 0;
    long pullAfter = -1;   // calls left before the cable is pulled; -1: connected
    long pullSeen = 0;
    long cutReadNth = 0, cutReadsSeen = 0;
    long shortCommitNth = 0, commitsSeen = 0;
};
Rules &Script()
{
    static Rules rules;
    return rules;
}
}  // namespace

bool SimIsRequest(const char *method)
{
    static const char *const requests[] = {
        "IPortableDevice::Open", "IPortableDeviceContent::EnumObjects", "IEnumPortableDeviceObjectIDs::Next",
        "IPortableDeviceProperties::GetValues", "IPortableDeviceProperties::SetValues", "IPortableDeviceContent::Delete",
        "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IPortableDeviceResources::GetStream",
        "IStream::Read", "IStream::Write", "IStream::Commit",
    };
    for (const char *r : requests)
        if (strcmp(r, method) == 0) return true;
    return false;
}

HRESULT SimCheckRules(const SimCallInfo &call, HRESULT *afterActing)
{
    DevsimLock lock;
    Rules &r = Script();
    const char *method = call.method;
    const wchar_t *objectId = call.objectId;
    HRESULT result = S_OK;
    if (afterActing) *afterActing = S_OK;
    if (r.pullAfter >= 0 && ++r.pullSeen > r.pullAfter) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    SimWatchCallStarts(call.request);   // past the pulled cable: the call reached the device
    if (call.request && (r.busyTimes > 0 || r.busyEvery > 0)) {
        long n = ++r.requestsSeen;
        if (r.busyTimes > 0 && n >= r.busyFrom && n < r.busyFrom + r.busyTimes) return HRESULT_FROM_WIN32(ERROR_BUSY);
        // Next is served from the listing the driver already holds: the phone is not asked.
        if (r.busyEvery > 0 && strcmp(method, "IEnumPortableDeviceObjectIDs::Next") != 0 &&
            ++r.phoneRequestsSeen % r.busyEvery == 0)
            return HRESULT_FROM_WIN32(ERROR_BUSY);
    }
    for (CallRule &rule : r.calls) {
        if (rule.method != method && !(call.operation && rule.method == call.operation)) continue;
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

// Counts the reads SimCall let through (busy or failed reads never carried data), on any
// download stream, so that the cut lands on the nth read that could have delivered bytes.
bool SimCutThisRead()
{
    DevsimLock lock;
    Rules &r = Script();
    return r.cutReadNth > 0 && ++r.cutReadsSeen == r.cutReadNth;
}

void DevsimCutReadAt(long nth)
{
    DevsimLock lock;
    Script().cutReadNth = nth > 0 ? nth : 0;
    Script().cutReadsSeen = 0;
}

// Counts the upload commits that reached the device (not failed by a rule or refused).
bool SimShortThisCommit()
{
    DevsimLock lock;
    Rules &r = Script();
    return r.shortCommitNth > 0 && ++r.commitsSeen == r.shortCommitNth;
}

void DevsimCommitKeepsLessAt(long nth)
{
    DevsimLock lock;
    Script().shortCommitNth = nth > 0 ? nth : 0;
    Script().commitsSeen = 0;
}

void DevsimBusyAt(long k, long times)
{
    DevsimLock lock;
    Script().busyFrom = k;
    Script().busyTimes = k > 0 ? times : 0;
    Script().requestsSeen = 0;
}

void DevsimBusyEvery(long n)
{
    DevsimLock lock;
    Script().busyEvery = n;
    Script().requestsSeen = 0;
    Script().phoneRequestsSeen = 0;
}

void DevsimSetValuesError(const wchar_t *objectId, int nth, HRESULT hr)
{
    DevsimLock lock;
    ValueErrorRule rule;
    rule.anyObject = (objectId == nullptr);
    rule.objectId = objectId ? objectId : L"";
    rule.error.anyKey = true;
    rule.error.key = PROPERTYKEY{};
    rule.error.hr = hr;
    rule.nth = nth;
    rule.seen = 0;
    Script().setValuesErrors.push_back(rule);
}

HRESULT SimSetValuesErrorForCall(const wchar_t *objectId)
{
    DevsimLock lock;
    HRESULT result = S_OK;
    for (ValueErrorRule &rule : Script().setValuesErrors) {
        if (!rule.anyObject && (!objectId || rule.objectId != objectId)) continue;
        if (++rule.seen == rule.nth && SUCCEEDED(result)) result = rule.error.hr;
    }
    return result;
}

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
