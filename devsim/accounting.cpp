// Counters and records: what the layer asked of the device, and how often.
#include "devsim_internal.h"

namespace {
struct Accounts {
    std::map<std::string, long> perMethod;
    std::map<std::pair<std::string, std::wstring>, long> perObject;
    long total = 0;
    std::vector<std::string> log;
    std::vector<DWORD> readSizes, writeSizes;
    long long bytesRead = 0, bytesWritten = 0;
    std::vector<DevsimProperty> lastCreate;
    long commits = 0;
};
Accounts &Books()
{
    static Accounts books;
    return books;
}
volatile LONG g_live = 0;
}  // namespace

HRESULT SimCheckRules(const SimCallInfo &call, HRESULT *afterActing);   // rules.cpp

HRESULT SimCall(const char *method, const wchar_t *objectId, HRESULT *afterActing)
{
    return SimCallWith(SimCallInfo{method, objectId, std::string(), SimIsRequest(method), nullptr}, afterActing);
}

HRESULT SimCallWith(const SimCallInfo &call, HRESULT *afterActing)
{
    if (call.request) SimWaitLatency();
    DevsimLock lock;
    Accounts &b = Books();
    b.total++;
    b.perMethod[call.method]++;
    if (call.operation) b.perMethod[call.operation]++;
    std::string entry = call.method;
    if (!call.detail.empty()) entry += " " + call.detail;
    if (call.objectId) {
        b.perObject[std::make_pair(std::string(call.method), std::wstring(call.objectId))]++;
        if (call.operation) b.perObject[std::make_pair(std::string(call.operation), std::wstring(call.objectId))]++;
        entry += " " + SimNarrow(call.objectId);
    }
    b.log.push_back(entry);
    return SimCheckRules(call, afterActing);
}

void SimLiveAdd(long delta) { InterlockedExchangeAdd(&g_live, delta); }

void SimRecordRead(DWORD requested, DWORD delivered)
{
    DevsimLock lock;
    Books().readSizes.push_back(requested);
    Books().bytesRead += delivered;
}

void SimRecordWrite(DWORD given, DWORD stored)
{
    DevsimLock lock;
    Books().writeSizes.push_back(given);
    Books().bytesWritten += stored;
}

void SimRecordCreate(const std::vector<DevsimProperty> &properties)
{
    DevsimLock lock;
    Books().lastCreate = properties;
}

void SimRecordCommit()
{
    DevsimLock lock;
    Books().commits++;
}

std::map<std::string, long> SimCallCounts()
{
    DevsimLock lock;
    return Books().perMethod;
}

long DevsimCallCount(const char *method)
{
    DevsimLock lock;
    auto it = Books().perMethod.find(method);
    return it == Books().perMethod.end() ? 0 : it->second;
}

long DevsimCallCountFor(const char *method, const wchar_t *objectId)
{
    DevsimLock lock;
    auto it = Books().perObject.find(std::make_pair(std::string(method), std::wstring(objectId ? objectId : L"")));
    return it == Books().perObject.end() ? 0 : it->second;
}

long DevsimTotalCalls()
{
    DevsimLock lock;
    return Books().total;
}

void DevsimResetCounts()
{
    DevsimLock lock;
    Books() = Accounts();
    SimWatchResetCount();
}

std::vector<std::string> DevsimCallLog()
{
    DevsimLock lock;
    return Books().log;
}

long DevsimLiveObjects() { return g_live; }

std::vector<DWORD> DevsimReadSizes()
{
    DevsimLock lock;
    return Books().readSizes;
}

std::vector<DWORD> DevsimWriteSizes()
{
    DevsimLock lock;
    return Books().writeSizes;
}

long long DevsimBytesRead()
{
    DevsimLock lock;
    return Books().bytesRead;
}

long long DevsimBytesWritten()
{
    DevsimLock lock;
    return Books().bytesWritten;
}

std::vector<DevsimProperty> DevsimLastCreateProperties()
{
    DevsimLock lock;
    return Books().lastCreate;
}

long DevsimCommits()
{
    DevsimLock lock;
    return Books().commits;
}
