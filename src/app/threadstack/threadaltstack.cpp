// Every thread the process starts gets an alternate signal stack of its own, so that the crash
// handler can report a stack overflow on any thread, not only on the main one (a signal handler
// cannot run on the stack that has just overflowed). Threads come from the toolkit (QThread, the
// thread pool), the SDK's std::threads and other libraries alike, and all of them go through
// pthread_create: the executable defines it, the dynamic linker binds every library's call to this
// definition, and the real one is called with a start routine that sets up the stack first.
//
// Linked into executables only (an object library), never into a static library where it could be
// left out, and never into the Qt-free SDK.

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// A sanitizer runtime linked statically (clang) defines pthread_create itself and must see every
// thread: then the runtime's own handling stays in charge.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TALLOW_NO_THREAD_ALTSTACK 1
#endif
#endif

#ifndef TALLOW_NO_THREAD_ALTSTACK

namespace
{

using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

CreateFn realCreate()
{
    static const CreateFn fn = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    return fn;
}

struct Start {
    void *(*routine)(void *);
    void *arg;
};

// Room for the crash report (backtrace included), as much as the main thread's, plus a guard page
// below it so that a handler running out of it faults instead of writing past it.
class AltStack
{
public:
    AltStack()
    {
        const long page = sysconf(_SC_PAGESIZE);
        const long minimum = sysconf(_SC_MINSIGSTKSZ);
        m_page = page > 0 ? size_t(page) : 4096;
        m_size = 64 * 1024;
        if (minimum > 0 && m_size < size_t(minimum) * 4)
            m_size = size_t(minimum) * 4;
        m_size = (m_size + m_page - 1) / m_page * m_page;
        void *base = mmap(nullptr, m_page + m_size, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (base == MAP_FAILED)
            return; // the thread still runs; only a report of its overflow is lost
        mprotect(base, m_page, PROT_NONE);
        stack_t ss = {};
        ss.ss_sp = static_cast<char *>(base) + m_page;
        ss.ss_size = m_size;
        if (sigaltstack(&ss, nullptr) != 0) {
            munmap(base, m_page + m_size);
            return;
        }
        m_base = base;
    }
    // Runs when the routine returns and when the thread ends by pthread_exit or cancellation
    // (both unwind through this frame).
    ~AltStack()
    {
        if (!m_base)
            return;
        stack_t ss = {};
        ss.ss_flags = SS_DISABLE;
        sigaltstack(&ss, nullptr);
        munmap(m_base, m_page + m_size);
    }
    AltStack(const AltStack &) = delete;
    AltStack &operator=(const AltStack &) = delete;

private:
    void *m_base = nullptr;
    size_t m_page = 0;
    size_t m_size = 0;
};

void *startWithAltStack(void *p)
{
    const Start start = *static_cast<Start *>(p);
    std::free(p);
    AltStack stack;
    return start.routine(start.arg);
}

} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*routine)(void *),
                              void *arg)
{
    const CreateFn real = realCreate();
    if (!real)
        return EAGAIN;
    // malloc, not new: this may run in the middle of a library's start-up, before anything else.
    auto *start = static_cast<Start *>(std::malloc(sizeof(Start)));
    if (!start)
        return real(thread, attr, routine, arg);
    start->routine = routine;
    start->arg = arg;
    const int rc = real(thread, attr, startWithAltStack, start);
    if (rc != 0)
        std::free(start);
    return rc;
}

#endif
