// Build-time step: turns the clear deployment values of the backup server
// (NAME=value lines) into a header that holds only their enciphered letters,
// so the clear values never reach the program's binary.
#include "settings/PasswordCipher.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: encipher_values VALUES_FILE OUTPUT_HEADER\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "encipher_values: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::string out = "#pragma once\n// Generated at build time; the letters of the backup server's values.\n";
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (line.empty() || eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const QByteArray clear = QByteArray::fromStdString(line.substr(eq + 1));
        const QByteArray letters = signetrix::EncipherString(clear, signetrix::StoredKeyText());
        if (letters.isEmpty() || signetrix::DecipherString(letters, signetrix::StoredKeyText()) != clear) {
            std::cerr << "encipher_values: " << name << " cannot be stored (empty or holding a zero byte)\n";
            return 1;
        }
        out += "inline constexpr char k" + name + "Letters[] = \"" + letters.toStdString() + "\";\n";
    }
    // Written whole or not at all, so a failed step never leaves half a header.
    const std::string temp = std::string(argv[2]) + ".tmp";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file << out;
        if (!file.flush()) {
            std::cerr << "encipher_values: cannot write " << temp << "\n";
            return 1;
        }
    }
    if (std::rename(temp.c_str(), argv[2]) != 0) {
        std::cerr << "encipher_values: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
