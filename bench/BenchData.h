// The data directory the gathering and export benchmarks share: one generated
// testing period of a given size, with code tables, made by kesprep-gendata
// (KES_GENDATA) and reused while its size stays the same.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct BenchData {
    std::string dir = std::string(KES_BENCH_DIR) + "/bench-data";
    long records = 1000000;
    long students = 200000;
    bool regenerate = false;

    // Takes the options every benchmark knows (--dir, --records, --students,
    // --regenerate); false when argv[i] is none of them.
    bool takeOption(int argc, char** argv, int& i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (arg == "--records" && i + 1 < argc)
            records = std::atol(argv[++i]);
        else if (arg == "--students" && i + 1 < argc)
            students = std::atol(argv[++i]);
        else if (arg == "--regenerate")
            regenerate = true;
        else
            return false;
        return true;
    }

    // Generates the directory unless one of the same size is there already.
    bool prepare() const {
        const std::string marker = dir + "/.kesprep-bench";
        const std::string wanted =
            std::to_string(records) + " " + std::to_string(students) + " seed 1\n";
        if (!regenerate) {
            std::ifstream in(marker);
            std::string have((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            if (have == wanted) {
                std::printf("Reusing %s\n", dir.c_str());
                return true;
            }
        }
        std::filesystem::remove_all(dir);
        const std::string command = std::string("\"") + KES_GENDATA + "\" --out \"" + dir +
                                    "\" --periods 1 --records " + std::to_string(records) +
                                    " --students " + std::to_string(students) +
                                    " --seed 1 --with-code-tables";
        std::printf("Generating: %s\n", command.c_str());
        std::fflush(stdout);
        if (std::system(command.c_str()) != 0) return false;
        std::ofstream(marker) << wanted;
        return true;
    }
};
