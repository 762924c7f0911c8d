// Thread-safety annotations: let clang's -Wthread-safety check at compile
// time that the data a lock guards is only touched with that lock held.
// Other compilers see nothing (the macros expand to nothing), so the
// annotations cost no portability. Use them with a lock type that declares
// itself a capability (util/annotated_mutex.h).
//
// Threading: compile-time only; no run-time effect.
#pragma once

#if defined(__clang__)
#define MQ_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define MQ_THREAD_ANNOTATION(x)
#endif

#define MQ_CAPABILITY(name) MQ_THREAD_ANNOTATION(capability(name))
#define MQ_SCOPED_CAPABILITY MQ_THREAD_ANNOTATION(scoped_lockable)
#define MQ_GUARDED_BY(x) MQ_THREAD_ANNOTATION(guarded_by(x))
#define MQ_PT_GUARDED_BY(x) MQ_THREAD_ANNOTATION(pt_guarded_by(x))
#define MQ_REQUIRES(...) MQ_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define MQ_EXCLUDES(...) MQ_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define MQ_ACQUIRE(...) MQ_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define MQ_RELEASE(...) MQ_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define MQ_TRY_ACQUIRE(...) MQ_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define MQ_RETURN_CAPABILITY(x) MQ_THREAD_ANNOTATION(lock_returned(x))
#define MQ_NO_THREAD_SAFETY_ANALYSIS MQ_THREAD_ANNOTATION(no_thread_safety_analysis)
