// Scope guards for the interpreter lock.
#pragma once

#include "ext/py/python.h"

namespace corvala::py {

// Releases the lock held by this thread for the guard's scope; restores the same thread state on
// every path out, unwinding included. Nothing in the scope may touch a Python object.
class ReleasedLock {
public:
    ReleasedLock() : state_(PyEval_SaveThread()) {}
    ~ReleasedLock() { PyEval_RestoreThread(state_); }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    PyThreadState* state_;
};

// Takes the lock on the calling thread for the guard's scope (for host callbacks made from
// inside a ReleasedLock scope).
class HeldLock {
public:
    HeldLock() : state_(PyGILState_Ensure()) {}
    ~HeldLock() { PyGILState_Release(state_); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    PyGILState_STATE state_;
};

}  // namespace corvala::py
