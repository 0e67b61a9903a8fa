/* The library's header compiles as C, and its types and calls work from C. */
#include "orviacquire/ORVIAcquireLib.h"

#include <stddef.h>

int32_t CountAdaptersFromC(void) {
    int32_t n = 0;
    ORVIAcqListNode* pHead = Acquisition_GigeGetAdapterList();
    for (ORVIAcqListNode* p = pHead; p != NULL; p = p->pNext) ++n;
    Acquisition_GigeFreeAdapterList(pHead);
    return n;
}

int32_t OpenRecordSizeFromC(void) { return (int32_t)sizeof(ORVIAcqOpenRecord); }

int32_t CloseZeroFromC(void) { return Acquisition_Close(0); }
