/* The three services calls made directly through dlopen, as a minimal C client would. */
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>

typedef intptr_t ISC_STATUS;
typedef unsigned int isc_svc_handle;
typedef ISC_STATUS (*attach_fn)(ISC_STATUS*, unsigned short, const char*, isc_svc_handle*,
                                unsigned short, const char*);
typedef ISC_STATUS (*start_fn)(ISC_STATUS*, isc_svc_handle*, void*, unsigned short, const char*);
typedef ISC_STATUS (*detach_fn)(ISC_STATUS*, isc_svc_handle*);

static attach_fn p_attach;
static start_fn p_start;
static detach_fn p_detach;

int raw_load(void) {
    void* h = dlopen("libfbclient.so.2", RTLD_NOW);
    if (!h) return -1;
    p_attach = (attach_fn)dlsym(h, "isc_service_attach");
    p_start = (start_fn)dlsym(h, "isc_service_start");
    p_detach = (detach_fn)dlsym(h, "isc_service_detach");
    return p_attach && p_start && p_detach ? 0 : -1;
}

/* One backup request: attach, start, detach. Returns 0 on success. */
int raw_backup(const char* user, const char* password, const char* db, const char* file) {
    ISC_STATUS status[20];
    isc_svc_handle handle = 0;
    char spb[600], req[2000];
    int n = 0;
    size_t ul = strlen(user), pl = strlen(password), dl = strlen(db), fl = strlen(file);
    spb[n++] = 2; spb[n++] = 2;
    spb[n++] = 28; spb[n++] = (char)ul; memcpy(spb + n, user, ul); n += (int)ul;
    spb[n++] = 29; spb[n++] = (char)pl; memcpy(spb + n, password, pl); n += (int)pl;
    if (p_attach(status, 21, "localhost:service_mgr", &handle, (unsigned short)n, spb)) return 1;
    n = 0;
    req[n++] = 1;
    req[n++] = 106; req[n++] = (char)(dl & 255); req[n++] = (char)(dl >> 8);
    memcpy(req + n, db, dl); n += (int)dl;
    req[n++] = 108; req[n++] = 0; req[n++] = 0; req[n++] = 0; req[n++] = 0;
    req[n++] = 5; req[n++] = (char)(fl & 255); req[n++] = (char)(fl >> 8);
    memcpy(req + n, file, fl); n += (int)fl;
    if (p_start(status, &handle, 0, (unsigned short)n, req)) return 2;
    if (p_detach(status, &handle)) return 3;
    return 0;
}
