// A stand-in archiver library for driving the archive adapter through every
// path it has. What it does is read from the environment at each call:
//   FAKE_ARCHIVER_RECORD  file to which it appends what it was handed
//   FAKE_ARCHIVER_REPORT  the report it writes
//   FAKE_ARCHIVER_FILL    when set, fills the whole buffer it was told of,
//                         leaving no NUL of its own
//   FAKE_ARCHIVER_THROW   when set, raises an exception after the report
//   FAKE_ARCHIVER_RESULT  the value it returns
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" __attribute__((visibility("default"))) int FAKE_ENTRY(void* owner, const char* commandLine, char* output,
                                                                 unsigned long outputSize) {
    if (const char* record = std::getenv("FAKE_ARCHIVER_RECORD")) {
        if (FILE* f = std::fopen(record, "ab")) {
            std::fprintf(f, "owner=%p size=%lu line=[%s]\n", owner, outputSize, commandLine);
            std::fclose(f);
        }
    }
    if (std::getenv("FAKE_ARCHIVER_FILL")) {
        std::memset(output, 'x', outputSize);
    } else if (const char* report = std::getenv("FAKE_ARCHIVER_REPORT")) {
        std::strncpy(output, report, outputSize);
    }
    if (std::getenv("FAKE_ARCHIVER_THROW")) throw std::runtime_error("fault inside the library");
    const char* result = std::getenv("FAKE_ARCHIVER_RESULT");
    return result ? std::atoi(result) : 0;
}

// The entries left out, from FAKE_ARCHIVER_LEFT_OUT: records
// "name|id|errno|argument|...", one a line, handed back in the library's
// list format (each field NUL-terminated, the count of arguments before
// them).
extern "C" __attribute__((visibility("default"))) const char* LeftOutEntries(unsigned long* length) {
    // Not thread_local: a thread-local object with a destructor would keep
    // the library from being unloaded.
    static std::string records;
    records.clear();
    if (const char* text = std::getenv("FAKE_ARCHIVER_LEFT_OUT")) {
        for (const char* p = text; *p;) {
            const char* end = std::strchr(p, '\n');
            if (!end) end = p + std::strlen(p);
            std::vector<std::string> fields;
            for (const char* f = p;;) {
                const char* bar = std::find(f, end, '|');
                fields.emplace_back(f, bar);
                if (bar == end) break;
                f = bar + 1;
            }
            fields.resize(std::max<size_t>(fields.size(), 3));
            fields.insert(fields.begin() + 3, std::to_string(fields.size() - 3));
            for (const auto& field : fields) records.append(field).push_back('\0');
            p = *end ? end + 1 : end;
        }
    }
    *length = records.size();
    return records.data();
}
