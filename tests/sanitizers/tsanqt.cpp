// Linked into every executable of the ThreadSanitizer build: what the sanitizer needs to follow
// Qt, which is not built for it.
//
// Qt orders its threads with its own futex-based locks, which the sanitizer cannot see, so every
// hand-over through Qt (a queued signal or invokeMethod, a job of a QThreadPool, a QThread that a
// wait() has seen finish) would look unordered. The functions below are the Qt entry points our code
// calls for such hand-overs; each marks the ordering that Qt guarantees and then calls Qt's own
// function. Qt's internal calls are not seen here, so nothing in Qt is hidden from the sanitizer.
// One key stands for all events and one for all pools: a race whose two sides are also separated by
// an unrelated signal or job can go unseen, a price paid for having no false reports.

#include <dlfcn.h>
#include <pthread.h>
#include <sanitizer/tsan_interface.h>
#include <sched.h>
#include <sys/types.h>

#include <chrono>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace
{

template <class F> F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// ---- clone ----
// The sanitizer handles clone() as a fork: the child runs its after-fork code. QProcess starts a
// program with clone(CLONE_VM | CLONE_VFORK), whose child shares our memory until it execs, so that
// code would run on our own state: the sanitizer then takes the whole process for a forked child,
// stops watching its main thread and kills it at its next new thread. Such a child only execs, so it
// is started with the C library's clone directly; every other clone still goes to the sanitizer.
using CloneFn = int (*)(int (*)(void *), void *, int, void *, ...);

CloneFn libcClone()
{
    void *libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    return libc ? reinterpret_cast<CloneFn>(dlsym(libc, "clone")) : nullptr;
}

// ---- events: whatever a thread did before it emitted or posted is seen by the event's receiver ----
char g_events;
// ---- pools: a job sees what was done before it was started, and waitForDone() what the jobs did ----
char g_pool; // one key for every pool: the job has to take it before reading its own captures

bool acquireEvents(void **)
{
    __tsan_acquire(&g_events);
    return false; // the event is delivered as usual
}

// QInternal::registerCallback(QInternal::EventNotifyCallback, ...), when the program uses Qt at all
bool hookEvents()
{
    using Callback = bool (*)(void **);
    using Fn = bool (*)(int, Callback);
    const auto reg =
        reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, "_ZN9QInternal16registerCallbackENS_8CallbackEPFbPPvE"));
    return reg && reg(0, acquireEvents);
}

const bool g_hooked = hookEvents();

// QDeadlineTimer as it is passed by value (Qt 6: qint64, unsigned, Qt::TimerType; trivially copyable).
struct DeadlineTimer {
    long long t1;
    unsigned t2;
    int type;
};

// ---- threads: a QThread that wait() saw finish has left its start function ----
struct ThreadStarts {
    std::mutex lock;
    std::unordered_set<void *> running;
};

ThreadStarts &threadStarts()
{
    static ThreadStarts *s = new ThreadStarts; // never destroyed: threads may end after exit()
    return *s;
}

struct Start {
    void *(*fn)(void *);
    void *arg;
};

void *startThread(void *p)
{
    const Start s = *static_cast<Start *>(p);
    delete static_cast<Start *>(p);
    void *result = s.fn(s.arg);
    ThreadStarts &t = threadStarts();
    std::lock_guard<std::mutex> g(t.lock);
    t.running.erase(s.arg);
    return result;
}

} // namespace

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...)
{
    va_list ap;
    va_start(ap, arg);
    pid_t *parentTid = va_arg(ap, pid_t *);
    void *tls = va_arg(ap, void *);
    pid_t *childTid = va_arg(ap, pid_t *);
    va_end(ap);
    static const CloneFn sanitizer = next<CloneFn>("clone");
    static const CloneFn direct = libcClone();
    const bool sharesMemory = (flags & CLONE_VM) && (flags & CLONE_VFORK);
    const CloneFn f = sharesMemory && direct ? direct : sanitizer;
    return f(fn, stack, flags, arg, parentTid, tls, childTid);
}

// QThread passes itself as the start argument; other threads are only tracked in passing. Weak: the
// application's own pthread_create (alternate signal stacks) takes its place where it is linked in,
// and wait() then only has Qt's word for it.
extern "C" __attribute__((weak)) int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                                                    void *(*fn)(void *), void *arg) noexcept
{
    using Fn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const Fn real = next<Fn>("pthread_create");
    ThreadStarts &t = threadStarts();
    {
        std::lock_guard<std::mutex> g(t.lock);
        t.running.insert(arg);
    }
    const int rc = real(thread, attr, startThread, new Start{fn, arg});
    if (rc != 0) {
        std::lock_guard<std::mutex> g(t.lock);
        t.running.erase(arg);
    }
    return rc;
}

// bool QThread::wait(QDeadlineTimer)
extern "C" bool tsanThreadWait(void *self,
                               DeadlineTimer deadline) __asm__("_ZN7QThread4waitE14QDeadlineTimer");
bool tsanThreadWait(void *self, DeadlineTimer deadline)
{
    using Fn = bool (*)(void *, DeadlineTimer);
    static const Fn real = next<Fn>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool done = real(self, deadline);
    if (done) {
        // Qt reports the thread finished a moment before it leaves its start function.
        ThreadStarts &t = threadStarts();
        for (int i = 0; i < 5000; ++i) {
            {
                std::lock_guard<std::mutex> g(t.lock);
                if (!t.running.count(self))
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return done;
}

// void QThreadPool::start(std::function<void()>, int)
extern "C" void tsanPoolStart(void *self, std::function<void()> job,
                              int priority) __asm__("_ZN11QThreadPool5startESt8functionIFvvEEi");
void tsanPoolStart(void *self, std::function<void()> job, int priority)
{
    using Fn = void (*)(void *, std::function<void()>, int);
    static const Fn real = next<Fn>("_ZN11QThreadPool5startESt8functionIFvvEEi");
    std::function<void()> wrapped = [job = std::move(job)]() mutable {
        __tsan_acquire(&g_pool);
        std::function<void()> run = std::move(job);
        run();
        run = nullptr; // the job's captures end before the pool counts it done
        __tsan_release(&g_pool);
    };
    __tsan_release(&g_pool);
    real(self, std::move(wrapped), priority);
}

// bool QThreadPool::waitForDone(int)
extern "C" bool tsanPoolWait(void *self, int msecs) __asm__("_ZN11QThreadPool11waitForDoneEi");
bool tsanPoolWait(void *self, int msecs)
{
    using Fn = bool (*)(void *, int);
    static const Fn real = next<Fn>("_ZN11QThreadPool11waitForDoneEi");
    const bool done = real(self, msecs);
    __tsan_acquire(&g_pool);
    return done;
}

// void QMetaObject::activate(QObject *, const QMetaObject *, int, void **) and its two siblings
extern "C" void tsanActivate(void *sender, const void *mo, int index,
                             void **argv) __asm__("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
void tsanActivate(void *sender, const void *mo, int index, void **argv)
{
    using Fn = void (*)(void *, const void *, int, void **);
    static const Fn real = next<Fn>("_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    __tsan_release(&g_events);
    real(sender, mo, index, argv);
}

extern "C" void tsanActivateIndex(void *sender, int index,
                                  void **argv) __asm__("_ZN11QMetaObject8activateEP7QObjectiPPv");
void tsanActivateIndex(void *sender, int index, void **argv)
{
    using Fn = void (*)(void *, int, void **);
    static const Fn real = next<Fn>("_ZN11QMetaObject8activateEP7QObjectiPPv");
    __tsan_release(&g_events);
    real(sender, index, argv);
}

extern "C" void tsanActivateOffset(void *sender, int offset, int index,
                                   void **argv) __asm__("_ZN11QMetaObject8activateEP7QObjectiiPPv");
void tsanActivateOffset(void *sender, int offset, int index, void **argv)
{
    using Fn = void (*)(void *, int, int, void **);
    static const Fn real = next<Fn>("_ZN11QMetaObject8activateEP7QObjectiiPPv");
    __tsan_release(&g_events);
    real(sender, offset, index, argv);
}

// bool QMetaObject::invokeMethodImpl(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *)
extern "C" bool tsanInvoke(void *object, void *slot, int type, void *ret) __asm__(
    "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
bool tsanInvoke(void *object, void *slot, int type, void *ret)
{
    using Fn = bool (*)(void *, void *, int, void *);
    static const Fn real = next<Fn>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    __tsan_release(&g_events);
    return real(object, slot, type, ret);
}

// void QCoreApplication::postEvent(QObject *, QEvent *, int)
extern "C" void tsanPostEvent(void *receiver, void *event,
                              int priority) __asm__("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
void tsanPostEvent(void *receiver, void *event, int priority)
{
    using Fn = void (*)(void *, void *, int);
    static const Fn real = next<Fn>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    __tsan_release(&g_events);
    real(receiver, event, priority);
}

// QObject::~QObject() deletes the events still posted to the object, wherever they came from.
extern "C" void tsanObjectDtor(void *self) __asm__("_ZN7QObjectD2Ev");
void tsanObjectDtor(void *self)
{
    using Fn = void (*)(void *);
    static const Fn real = next<Fn>("_ZN7QObjectD2Ev");
    __tsan_acquire(&g_events);
    real(self);
}
