// Writes one small container per decodable method into the given directory,
// as the fuzzer's starting corpus.

#include "shared/container/container.h"

#include <QByteArray>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(argv[1], error);
    QByteArray sample;
    for (int index = 0; index < 40; ++index)
        sample += "vantor chunk " + QByteArray::number(index * 7919 % 101) + '\n';
    const int methods[] = {shared::CompressionStored, shared::CompressionDeflate, shared::CompressionLzip,
                           shared::CompressionLzma, shared::CompressionLzmaAlternative};
    for (int method : methods) {
        const QByteArray container = shared::compress(method, sample);
        const std::string path = std::string(argv[1]) + "/seed-method-" + std::to_string(method);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(container.constData(), 1, static_cast<size_t>(container.size()), file) !=
                         static_cast<size_t>(container.size())) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return 0;
}
