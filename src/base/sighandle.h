// Signal layer: a chain of handlers per signal, and nested critical
// sections during which signals are held back.
#pragma once

using SigHandler = void (*)(int);

int SIG_init();
int SIG_register(int sig, SigHandler fn);
int SIG_deregister(int sig, SigHandler fn);
int SIG_beginCrSect();
int SIG_inCrSect();
int SIG_endCrSect();

// Handler for fatal signals: reports "received %s signal" fatally.
void main_cleanup(int sig);

// RAII critical section.
class CriticalSection {
  public:
    CriticalSection() { SIG_beginCrSect(); }
    ~CriticalSection() { SIG_endCrSect(); }
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;
};
