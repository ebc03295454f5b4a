#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What a table file's bytes hold and every fault in them, judged by how the
// store reads them and the session signs in and adds users. Reads only.
struct TableReport
{
    struct User
    {
        int slot;
        std::string loginName; // as stored
    };

    std::size_t size = 0;
    // False when the store refuses to read the bytes as a table at all.
    bool readable = true;
    std::vector<User> users;
    // One sentence each; names are quoted as stored.
    std::vector<std::string> faults;

    bool sound() const { return faults.empty(); }
};

TableReport checkTable(std::string_view fileBytes);
