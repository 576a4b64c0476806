// Scripted failures: a method's nth call, or the nth call of any method, answers an error.
// Each rule counts from the moment it is set, so a test can arm it right before the step.
#include "devsim_internal.h"

namespace {
struct CallRule {
    std::string method;
    bool anyObject;
    std::wstring objectId;
    int nth;
    HRESULT hr;
    int seen;
};
struct Rules {
    std::vector<CallRule> calls;
    long sweepNth = 0;
    HRESULT sweepHr = S_OK;
    long sweepSeen = 0;
};
Rules &Script()
{
    static Rules rules;
    return rules;
}
}  // namespace

HRESULT SimCheckRules(const char *method, const wchar_t *objectId)
{
    DevsimLock lock;
    Rules &r = Script();
    HRESULT result = S_OK;
    for (CallRule &rule : r.calls) {
        if (rule.method != method) continue;
        if (!rule.anyObject && (!objectId || rule.objectId != objectId)) continue;
        rule.seen++;
        if (rule.seen == rule.nth && SUCCEEDED(result)) result = rule.hr;
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

void DevsimFailCall(const char *method, int nth, HRESULT hr, const wchar_t *objectId)
{
    DevsimLock lock;
    CallRule rule;
    rule.method = method;
    rule.anyObject = (objectId == nullptr);
    rule.objectId = objectId ? objectId : L"";
    rule.nth = nth;
    rule.hr = hr;
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
