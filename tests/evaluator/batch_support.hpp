// Running vtbench32 --batch as a user does, inside a test's private world:
// its hives, its system root and its own temporary root.
#pragma once

#include "eval_support.hpp"

#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace vntr::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// The folder that TMPDIR points at for the program; its temporary folder is
// "vntr-<uid>" inside.
inline std::string TempRoot(const EvaluatorWorld &world) {
    return world.File("tmproot");
}

// `env` ("NAME=value ...") goes in front of the program's environment.
inline Outcome RunVtbench(const EvaluatorWorld &world, const std::string &args, const std::string &env = "") {
    const std::string err = world.File("stderr.txt");
    const std::string command =
        "env TMPDIR=" + TempRoot(world) + " " + env + " " + VNTR_TEST_VTBENCH32 + " " + args + " 2>" + err;
    fs::create_directories(TempRoot(world));
    Outcome run;
    std::FILE *pipe = popen(command.c_str(), "r");
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.out += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto bytes = ReadBytes(err);
    run.err.assign(bytes.begin(), bytes.end());
    return run;
}

inline nlohmann::json ReadJson(const std::string &path) {
    const auto bytes = ReadBytes(path);
    return nlohmann::json::parse(std::string(bytes.begin(), bytes.end()));
}

} // namespace vntr::test
