// Signal handler chains and critical sections.
#include "src/base/sighandle.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include "src/base/error.h"

namespace {

constexpr int NSIG_SLOTS = 65;

struct SIG_hlist {
    SigHandler handler;
    SIG_hlist *next;
};

SIG_hlist **SIG_handlers = nullptr;
struct sigaction *SIG_defaults = nullptr;
int SIG_crSectNest = 0;
sigset_t SIG_crSectMask;

void SIG_handle(int sig) {
    for (SIG_hlist *h = SIG_handlers[sig]; h; h = h->next)
        h->handler(sig);
}

bool valid(int sig) { return sig > 0 && sig < NSIG_SLOTS; }

}  // namespace

int SIG_init() {
    if (SIG_handlers && SIG_defaults)
        return 0;
    if (!SIG_handlers)
        SIG_handlers = static_cast<SIG_hlist **>(std::calloc(NSIG_SLOTS, sizeof(SIG_hlist *)));
    if (!SIG_defaults)
        SIG_defaults =
            static_cast<struct sigaction *>(std::calloc(NSIG_SLOTS, sizeof(struct sigaction)));
    sigemptyset(&SIG_crSectMask);
    return SIG_handlers == nullptr || SIG_defaults == nullptr;
}

int SIG_register(int sig, SigHandler fn) {
    if (SIG_init() || !valid(sig))
        return -1;
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &old);
    int result = 0;
    bool present = false;
    for (SIG_hlist *h = SIG_handlers[sig]; h; h = h->next)
        if (h->handler == fn)
            present = true;
    if (!present) {
        if (!SIG_handlers[sig]) {
            struct sigaction act {};
            act.sa_handler = SIG_handle;
            sigemptyset(&act.sa_mask);
            act.sa_flags = 0;
            result = sigaction(sig, &act, &SIG_defaults[sig]);
        }
        if (result == 0) {
            auto *node = static_cast<SIG_hlist *>(std::malloc(sizeof(SIG_hlist)));
            if (!node) {
                result = -1;
            } else {
                node->handler = fn;
                node->next = SIG_handlers[sig];
                SIG_handlers[sig] = node;
            }
        }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return result;
}

int SIG_deregister(int sig, SigHandler fn) {
    if (SIG_init() || !valid(sig))
        return -1;
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, sig);
    sigprocmask(SIG_BLOCK, &block, &old);
    int result = 0;
    SIG_hlist **link = &SIG_handlers[sig];
    while (*link && (*link)->handler != fn)
        link = &(*link)->next;
    if (*link) {
        SIG_hlist *dead = *link;
        *link = dead->next;
        std::free(dead);
        if (!SIG_handlers[sig])
            result = sigaction(sig, &SIG_defaults[sig], nullptr);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return result;
}

int SIG_beginCrSect() {
    if (SIG_init())
        return -1;
    if (SIG_crSectNest == 0) {
        sigset_t all;
        sigfillset(&all);
        if (sigprocmask(SIG_SETMASK, &all, &SIG_crSectMask) != 0)
            return -1;
    }
    ++SIG_crSectNest;
    return 0;
}

int SIG_inCrSect() { return SIG_crSectNest > 0; }

int SIG_endCrSect() {
    if (SIG_init())
        return -1;
    if (SIG_crSectNest > 0 && --SIG_crSectNest == 0)
        return sigprocmask(SIG_SETMASK, &SIG_crSectMask, nullptr);
    return 0;
}

void main_cleanup(int sig) {
    std::string name;
    switch (sig) {
    case SIGHUP: name = "hangup"; break;
    case SIGINT: name = "interrupt"; break;
    case SIGQUIT: name = "quit"; break;
    case SIGABRT: name = "abort"; break;
    case SIGPIPE: name = "broken pipe"; break;
    case SIGTERM: name = "termination"; break;
    default: name = std::to_string(sig); break;
    }
    error(1, 0, "received %s signal", name);
}
