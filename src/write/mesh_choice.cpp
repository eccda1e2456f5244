#include "write/mesh_choice.h"

#include <cstring>

namespace {

const struct {
    const char* name;
    MeshChoice choice;
} meshChoices[] = {
    {"greedy", MeshChoice::greedy},
    {"faces", MeshChoice::faces},
    {"cubes", MeshChoice::cubes},
};

} // namespace

bool parseMeshChoice(const char* text, MeshChoice& choice) {
    for (const auto& entry : meshChoices)
        if (strcmp(text, entry.name) == 0) {
            choice = entry.choice;
            return true;
        }
    return false;
}

const char* meshChoiceName(MeshChoice choice) {
    for (const auto& entry : meshChoices)
        if (entry.choice == choice)
            return entry.name;
    return "greedy";
}
