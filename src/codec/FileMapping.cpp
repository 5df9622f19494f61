#include "codec/FileMapping.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace quern::reg {

namespace {

// The ranges the handler answers for. Fixed and lock-free, because a signal handler may neither
// allocate nor wait; a process has a few hives mapped at most, and one beyond the table is mapped
// unguarded rather than refused.
struct Guarded {
    std::atomic<std::uintptr_t> begin { 0 };
    std::atomic<std::uintptr_t> end { 0 };
    std::atomic<bool> faulted { false };
    std::atomic<bool> taken { false };
};
constexpr int kSlots = 64;
Guarded g_slots[kSlots];
std::uintptr_t g_pageSize = 4096;
struct sigaction g_previous { };
std::once_flag g_installed;

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // Only a fault of the memory itself is answered here; a SIGBUS another process sent is not.
    const bool fault = info->si_code > 0;
    for (Guarded& slot : g_slots) {
        if (!fault) break;
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire)) continue;
        // The file under the page is gone: a page of zeros takes its place and the read goes on.
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
            slot.faulted.store(true, std::memory_order_release);
            return;
        }
        break;
    }
    // Not a hive's page: whatever would have happened without this handler happens.
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    if (g_previous.sa_handler == SIG_IGN && !fault) return;
    // The default: the process ends, as it would have. The signal stays blocked until the handler
    // returns, and is then taken as if this handler had never been.
    ::signal(SIGBUS, SIG_DFL);
    ::raise(SIGBUS);
}

void installHandler() {
    g_pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action { };
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

} // namespace

FileMapping::~FileMapping() {
    if (m_slot >= 0) {
        Guarded& slot = g_slots[m_slot];
        slot.begin.store(0, std::memory_order_release);
        slot.end.store(0, std::memory_order_release);
        slot.faulted.store(false, std::memory_order_release);
        slot.taken.store(false, std::memory_order_release);
    }
    if (m_data) ::munmap(const_cast<char*>(m_data), m_size);
}

bool FileMapping::map(int fd, std::size_t size) {
    if (size == 0) return true;
    std::call_once(g_installed, installHandler);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) return false;
    m_data = static_cast<const char*>(data);
    m_size = size;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!g_slots[i].taken.compare_exchange_strong(expected, true)) continue;
        const auto begin = reinterpret_cast<std::uintptr_t>(m_data);
        g_slots[i].faulted.store(false, std::memory_order_release);
        g_slots[i].end.store(begin + m_size, std::memory_order_release);
        g_slots[i].begin.store(begin, std::memory_order_release);
        m_slot = i;
        break;
    }
    return true;
}

bool FileMapping::faulted() const {
    return m_slot >= 0 && g_slots[m_slot].faulted.load(std::memory_order_acquire);
}

void FileMapping::releasePages() const {
    if (m_data) ::madvise(const_cast<char*>(m_data), m_size, MADV_DONTNEED);
}

} // namespace quern::reg
