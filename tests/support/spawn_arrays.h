#pragma once
// The argument and environment arrays posix_spawn wants, built from strings
// and kept alive together with the strings they point into.
#include <map>
#include <string>
#include <vector>

namespace tarnwick::testing {

class CStringArray {
public:
    explicit CStringArray(std::vector<std::string> strings) : strings_(std::move(strings)) {
        for (auto& s : strings_) pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    CStringArray(const CStringArray&) = delete;
    CStringArray& operator=(const CStringArray&) = delete;
    char* const* data() { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// program followed by args, as argv.
inline std::vector<std::string> CommandLine(const std::string& program,
                                            const std::vector<std::string>& args) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// KEY=value entries, as envp.
inline std::vector<std::string> EnvironmentEntries(const std::map<std::string, std::string>& env) {
    std::vector<std::string> entries;
    for (const auto& [k, v] : env) entries.push_back(k + "=" + v);
    return entries;
}

}  // namespace tarnwick::testing
