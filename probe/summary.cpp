// The last summary: the median request, and each assumption of the device model against
// what this device showed.
#include "probe/probe.h"

static DWORD Times[40000];

// Median of the recorded requests of one method (M_COUNT: every request), with their count.
static DWORD MedianOf(int method, int *count)
{
    int n = 0;
    for (int i = 0; i < RecordCount(); i++) {
        CallRecord *r = RecordAt(i);
        if (r->refused || !IsRequestMethod(r->method) || (method != M_COUNT && r->method != method))
            continue;
        if (r->method == M_BLK_START)
            continue;   // returns before the reply: not a round trip
        Times[n++] = r->micro;
    }
    DWORD low, high;
    *count = n;
    return MedianMicro(Times, n, &low, &high);
}

static const char *Verdict(int confirmed)
{
    return confirmed ? "confirmed" : "refuted";
}

void ReportSummary(const WalkFacts *walk, const MeasureFacts *m, LONGLONG started)
{
    int requests = 0, reads = 0, nexts = 0;
    OutSection("Summary");
    DWORD median = MedianOf(M_COUNT, &requests);
    DWORD read = MedianOf(M_PRO_GET_VALUES, &reads);
    DWORD next = MedianOf(M_ENU_NEXT, &nexts);
    Out("requests: %d\r\n", requests);
    Out("median request: %s ms\r\n", Ms(median));
    Out("median property read: %s ms over %d\r\n", Ms(read), reads);
    Out("median Next: %s ms over %d\r\n", Ms(next), nexts);
    if (reads > 0)
        Out("assumption a request takes 3.8 ms: %s (median property read %s ms)\r\n",
            Verdict(read >= 1900 && read <= 7600), Ms(read));
    if (nexts > 0)
        Out("assumption Next is answered from the listing at no cost: %s (median Next %s ms)\r\n",
            Verdict(next < 1000 || next * 4 < read), Ms(next));
    if (m->done && m->listed > 0) {
        DWORD perChild = m->listingMicro > 3800 ? (m->listingMicro - 3800) / m->listed : 0;
        Out("assumption a listing costs 3.8 ms plus 1 ms per child: %s (%s ms per child over %d children)\r\n",
            Verdict(perChild >= 500 && perChild <= 2000), Ms(perChild), m->listed);
    }
    if (m->done)
        Out("assumption every property read is a request (no cache): %s (second read %s ms, first %s ms)\r\n",
            m->firstReadMicro < 1000 ? "not settled" : Verdict(m->secondReadMicro * 2 >= m->firstReadMicro),
            Ms(m->secondReadMicro), Ms(m->firstReadMicro));
    if (m->done && m->bulkAvailable && m->singles > 0)
        Out("assumption a bulk read of a folder takes about one request: %s (%d children: bulk %s ms, single reads %s ms)\r\n",
            Verdict(m->bulkComplete && m->bulkMicro <= 3 * (read > 0 ? read : 1) + 2000), m->singles, Ms(m->bulkMicro),
            Ms(m->singlesMicro));
    else if (m->done && !m->bulkAvailable)
        Out("assumption a bulk read of a folder takes about one request: not measured, bulk reads not available (%s)\r\n",
            HrText(m->bulkQi));
    if (m->done && m->storageNameCode == E_PENDING)
        Out("assumption a storage has no file name: not measured, no storage listed\r\n");
    else if (m->done)
        Out("assumption a storage has no file name: %s (%s)\r\n",
            Verdict(m->storageNameCode != S_OK), m->storageNameCode == S_OK      ? "it has one"
                                                 : m->storageNameCode == S_FALSE ? "absent from the reply"
                                                                                 : HrText(m->storageNameCode));
    ReportStandIns();
    Out("walk: %d requests in %s ms\r\n", walk->walkRequests, Ms(walk->walkMicro));
    if (DroppedRecords() > 0)
        Out("calls not kept: %ld (the record table was full)\r\n", DroppedRecords());
    Out("probe wall time: %s ms\r\n", Ms(MicroSince(started)));
}
