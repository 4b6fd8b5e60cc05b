#include "acquisition/TPassFailCounter.h"

namespace {

// RAII would destroy nothing here, but keeps every exit path unlocked.
class TLock {
public:
    explicit TLock(pthread_mutex_t* m) : m_(m) { pthread_mutex_lock(m_); }
    ~TLock() { pthread_mutex_unlock(m_); }
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

private:
    pthread_mutex_t* m_;
};

std::string number(int64_t n)
{
    if (n >= TPassFailCounter::kMaxCount)
        return ">99999";
    return std::to_string(n);
}

} // namespace

void TPassFailCounter::raz()
{
    TLock lock(&mutex);
    passCount = 0;
    failCount = 0;
}

void TPassFailCounter::incPass()
{
    TLock lock(&mutex);
    if (passCount < kMaxCount)
        ++passCount;
}

void TPassFailCounter::incFail()
{
    TLock lock(&mutex);
    if (failCount < kMaxCount)
        ++failCount;
}

std::string TPassFailCounter::get(int16_t type)
{
    int64_t total;
    int64_t count;
    {
        TLock lock(&mutex);
        total = int64_t(passCount) + failCount;
        count = type == 1 ? passCount : type == 2 ? failCount : total;
    }
    return number(count) + " / " + number(total);
}
