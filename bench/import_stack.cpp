// The deepest stack the asset importer touches in reading one file and
// freeing its scene, the part of vxlconv's import that recurses as deep as
// the file nests. Prints the bytes; bench/import_stack.py runs it on scenes
// of several depths and works out the cost of a level.
//
//   import_stack FILE
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sys/mman.h>

namespace {

constexpr size_t stackBytes = size_t(1) << 30;
constexpr unsigned char untouched = 0xa5;
const char* path = nullptr;

void* importOnce(void*) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
    fprintf(stderr, "%s: %s\n", path, scene ? "read" : importer.GetErrorString());
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: import_stack FILE\n");
        return 1;
    }
    path = argv[1];
    // A stack filled with a pattern: what the import wrote over is what it
    // used.
    void* stack = mmap(nullptr, stackBytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (stack == MAP_FAILED)
        return 1;
    memset(stack, untouched, stackBytes);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, stackBytes);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, importOnce, nullptr) != 0)
        return 1;
    pthread_join(thread, nullptr);
    const unsigned char* bytes = static_cast<const unsigned char*>(stack);
    size_t low = 0;
    while (low < stackBytes && bytes[low] == untouched)
        ++low;
    printf("%zu\n", stackBytes - low);
    return 0;
}
