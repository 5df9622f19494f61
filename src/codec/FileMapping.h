#pragma once

#include <string>
#include <string_view>

namespace quern::reg {

// A registry file (a hive, a Wine prefix's file) mapped read-only for as long as its keys may
// still be read from it. Keys are read from the file when first asked for, so the mapping outlives
// the load; another program that cuts the file short meanwhile (hivex and Windows rewrite a hive in
// place) would make the next read of a lost page end the process with SIGBUS. A mapping guards
// against that: such a page reads as zeros instead, which the reader's checks refuse, and
// faulted() says the file was cut short.
class FileMapping {
public:
    FileMapping() = default;
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    // Maps the open descriptor's first size bytes. False, with errno set, when it cannot.
    bool map(int fd, std::size_t size);
    [[nodiscard]] std::string_view bytes() const { return { m_data, m_size }; }
    // Whether a page of the file was gone when it was read: whatever was read since may be zeros.
    [[nodiscard]] bool faulted() const;
    // Lets go of the pages read so far: they stay in the system's file cache, not in this
    // process's memory, and come back from there when read again. For after a pass over the
    // whole file.
    void releasePages() const;

private:
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    int m_slot = -1; // in the table the SIGBUS handler looks in; -1: unguarded
};

} // namespace quern::reg
