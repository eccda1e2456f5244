// How the format tables name their rows, each defined at the end of its
// reader's or writer's file: in one line, so that a format is one line of its
// table. `Row` is the row's type, `name` the row.
#pragma once

#define FORMAT_ROW(Row, name)                                                                      \
    [] {                                                                                           \
        extern const Row name;                                                                     \
        return &name;                                                                              \
    }()
