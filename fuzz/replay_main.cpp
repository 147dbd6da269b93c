// Runs a fuzz target over given files and folders of files, once each, in
// name order, without libFuzzer: the seed corpora and the inputs of past
// crashes become ordinary tests of the host build (and of the sanitizer
// build). Exit code 0 when every input went through.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "%s: not found\n", argv[i]);
            return 2;
        }
        if (!S_ISDIR(st.st_mode)) {
            files.push_back(argv[i]);
            continue;
        }
        std::vector<std::string> names;
        if (DIR *d = opendir(argv[i])) {
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.') names.push_back(std::string(argv[i]) + "/" + e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        files.insert(files.end(), names.begin(), names.end());
    }
    for (const std::string &file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string data = bytes.str();
        std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), data.size());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.data()), data.size());
    }
    std::printf("%zu inputs went through\n", files.size());
    return files.empty() ? 1 : 0;
}
