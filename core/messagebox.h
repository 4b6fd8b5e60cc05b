// Bounded queue of fixed records between threads: many writers, one reader.
#pragma once

#include <cerrno>
#include <ctime>
#include <pthread.h>

template <typename T>
class TTavlinMessageBox {
public:
    explicit TTavlinMessageBox(int count)
        : slots_(new T[count > 1 ? count : 2]()), read_(slots_), write_(slots_), end_(slots_ + (count > 1 ? count : 2))
    {
        pthread_mutex_init(&mutex_, nullptr);
        // Deadlines on the monotonic clock: setting the date must not cut or stretch a wait.
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&cond_, &attr);
        pthread_condattr_destroy(&attr);
    }

    TTavlinMessageBox(const TTavlinMessageBox&) = delete;
    TTavlinMessageBox& operator=(const TTavlinMessageBox&) = delete;

    ~TTavlinMessageBox()
    {
        pthread_cond_destroy(&cond_);
        pthread_mutex_destroy(&mutex_);
        delete[] slots_;
    }

    // Queues a copy of the record: 0, or -1 when the box is full and the record is dropped.
    int send(const T* record)
    {
        pthread_mutex_lock(&mutex_);
        *write_ = *record;
        T* next = write_ + 1;
        if (next == end_)
            next = slots_;
        int result = -1;
        if (next != read_) {
            write_ = next;
            result = 0;
        }
        pthread_cond_signal(&cond_);
        pthread_mutex_unlock(&mutex_);
        return result;
    }

    // Copies the oldest record into *out, removing it when asked. A time-out of 0 waits without
    // limit, otherwise at most that many seconds. 0 with a record, -1 on time-out (out untouched).
    int receive(T* out, bool remove, int timeoutSeconds)
    {
        pthread_mutex_lock(&mutex_);
        if (read_ == write_) {
            timespec deadline{};
            if (timeoutSeconds > 0) {
                clock_gettime(CLOCK_MONOTONIC, &deadline);
                deadline.tv_sec += timeoutSeconds;
            }
            while (read_ == write_) {
                if (timeoutSeconds > 0) {
                    if (pthread_cond_timedwait(&cond_, &mutex_, &deadline) == ETIMEDOUT && read_ == write_) {
                        pthread_mutex_unlock(&mutex_);
                        return -1;
                    }
                } else {
                    pthread_cond_wait(&cond_, &mutex_);
                }
            }
        }
        *out = *read_;
        if (remove) {
            ++read_;
            if (read_ == end_)
                read_ = slots_;
        }
        pthread_mutex_unlock(&mutex_);
        return 0;
    }

    // Copies the oldest record into *out without waiting and without removing it: true with a
    // record, false when the box is empty (out untouched).
    bool peek(T* out)
    {
        pthread_mutex_lock(&mutex_);
        const bool any = read_ != write_;
        if (any)
            *out = *read_;
        pthread_mutex_unlock(&mutex_);
        return any;
    }

    // Number of records waiting.
    int count()
    {
        pthread_mutex_lock(&mutex_);
        const long n = write_ >= read_ ? write_ - read_ : (end_ - read_) + (write_ - slots_);
        pthread_mutex_unlock(&mutex_);
        return static_cast<int>(n);
    }

    // True when no record waits.
    bool empty()
    {
        pthread_mutex_lock(&mutex_);
        const bool none = read_ == write_;
        pthread_mutex_unlock(&mutex_);
        return none;
    }

    // Removes every waiting record that pick(record) selects, keeping the others in order; the
    // number removed.
    template <typename Pick>
    int removeIf(Pick pick)
    {
        pthread_mutex_lock(&mutex_);
        int removed = 0;
        T* to = read_;
        for (T* from = read_; from != write_;) {
            if (pick(static_cast<const T&>(*from))) {
                ++removed;
            } else {
                if (to != from)
                    *to = *from;
                if (++to == end_)
                    to = slots_;
            }
            if (++from == end_)
                from = slots_;
        }
        write_ = to;
        pthread_mutex_unlock(&mutex_);
        return removed;
    }

private:
    T* slots_;
    T* read_;
    T* write_;
    T* end_;
    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
};
