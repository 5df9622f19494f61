// make_empty_hive FILE: writes an empty hive for the scripts that test with one (hivex cannot make one).
#include "hive/OfflineHive.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_empty_hive FILE\n";
        return 2;
    }
    const quern::reg::Status written = quern::reg::writeEmptyHive(argv[1]);
    if (written.ok()) return 0;
    std::cerr << "make_empty_hive: " << written.message() << '\n';
    return 1;
}
