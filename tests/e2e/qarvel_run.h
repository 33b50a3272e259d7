// Running the qarvel program as a user does: its output, its errors and its exit status.
#ifndef QARVEL_TESTS_E2E_QARVEL_RUN_H
#define QARVEL_TESTS_E2E_QARVEL_RUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace e2e {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs `prefix qarvel arguments` through the shell (a prefix may set variables or change
// the user).
inline Outcome RunQarvel(const std::string& arguments, const std::string& prefix = "") {
    Outcome run;
    std::string err_file =
        std::filesystem::temp_directory_path() / ("qarvel-e2e-stderr-" + std::to_string(::getpid()));
    std::string command = prefix + " " QARVEL_CLI " " + arguments + " 2>" + err_file;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    std::size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(err_file);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(err_file);
    return run;
}

// A path of this process under the temporary directory, with nothing there.
inline std::string TempName(const std::string& name) {
    std::string dir = std::filesystem::temp_directory_path() / ("qarvel-e2e-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    return dir;
}

// A fresh copy of a machine directory to change, under the temporary directory ("" when it
// cannot be made).
inline std::string CopyMachine(const std::string& from, const std::string& name) {
    std::string dir = TempName(name);
    // A disk image may be a raw one of the disk's full size (captures before the compact
    // form): cp keeps its holes.
    std::string command = "cp -a --sparse=always '" + from + "' '" + dir + "'";
    if (std::system(command.c_str()) != 0) return "";
    return dir;
}

}  // namespace e2e

#endif
