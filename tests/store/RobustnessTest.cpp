#include "StoreCheck.h"

#include "store/IoError.h"
#include "store/Scramble.h"
#include "store/TableFile.h"

#include <cstring>
#include <random>
#include <string>

using storecheck::readFile;
using storecheck::table;
using storecheck::TableFile;
using storecheck::testData;
using storecheck::writeFile;

namespace {

int usedSlots()
{
    int used = 0;
    for (int i = 1; i <= SlotCount; ++i)
        used += isFreeSlot(slot(i)) ? 0 : 1;
    return used;
}

std::string randomBytes(std::mt19937& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Damage a valid table the ways a disk or an editor would.
std::string mutate(std::mt19937& random, std::string bytes)
{
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = bytes.empty() ? 0 : random() % bytes.size();
        switch (random() % 6) {
        case 0: // flip bits
            if (!bytes.empty())
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
            break;
        case 1: { // a length byte out of range
            const std::size_t lengthOffsets[] = {0, 16, 25, 281, 312, 1301, 1311};
            const std::size_t offset =
                (random() % 5) * UserRecordSize + lengthOffsets[random() % 7];
            if (offset < bytes.size())
                bytes[offset] = static_cast<char>(0x80 | (random() & 0x7F));
            break;
        }
        case 2: // truncate
            bytes.resize(random() % (bytes.size() + 1));
            break;
        case 3: // append
            bytes += randomBytes(random, random() % 3000);
            break;
        case 4: // overwrite a run
            for (std::size_t i = at; i < bytes.size() && i < at + random() % 64; ++i)
                bytes[i] = static_cast<char>(random() & 0xFF);
            break;
        default: // blank out a name
            if (at < bytes.size())
                bytes[at - at % UserRecordSize] = '\0';
            break;
        }
    }
    return bytes;
}

// Loads `bytes`; on success a save and a second load give the same table, on
// failure the table is as it was. The operations then run on whatever loaded.
void exercise(std::mt19937& random, const std::string& bytes)
{
    writeFile(TableFile, bytes);
    const std::string before = table();
    try {
        LoadUserTable();
    } catch (const IoError& e) {
        CHECK_EQ(e.code(), 100);
        CHECK(bytes.size() < 6565 && bytes.size() % UserRecordSize != 0);
        CHECK_EQ(table(), before);
        return;
    }
    CHECK(bytes.size() >= 6565 || bytes.size() % UserRecordSize == 0);
    const std::size_t records = std::min<std::size_t>(bytes.size() / UserRecordSize, 5);
    for (int i = 1; i <= SlotCount; ++i) {
        if (isFreeSlot(slot(i)))
            continue;
        const std::size_t at = static_cast<std::size_t>(i - 1) * UserRecordSize;
        const std::string expected = static_cast<std::size_t>(i) <= records
                                         ? bytes.substr(at, UserRecordSize)
                                         : before.substr(at, UserRecordSize);
        CHECK_EQ(table().substr(at, UserRecordSize), expected);
        const int found = FindUser(decoded(slot(i).LoginName));
        CHECK(found >= 1 && found <= i);
    }

    if (random() % 4 == 0) {
        const std::string loaded = table();
        SaveUserTable();
        CHECK_EQ(readFile(TableFile), loaded);
        resetUserTable();
        LoadUserTable();
        CHECK_EQ(table(), loaded);
    }

    const int used = usedSlots();
    const int pick = 1 + static_cast<int>(random() % SlotCount);
    if (!isFreeSlot(slot(pick))) {
        RemoveUserSlot(pick);
        CHECK_EQ(usedSlots(), used - 1);
    }
    UserRecord plain{};
    plain.LoginName.assign(randomBytes(random, random() % 20));
    const bool room = FirstFreeSlot() > 0;
    const int usedNow = usedSlots();
    const std::string stored = StoreNewUser(plain);
    if (room && !trimControls(stored).empty())
        CHECK_EQ(usedSlots(), usedNow + 1);
}

} // namespace

TEST(RandomFilesLoadOrFailCleanly)
{
    std::mt19937 random(4711);
    for (int round = 0; round < 2000; ++round) {
        const std::size_t sizes[] = {0, 1313, 2626, 3939, 5252, 6565, 6566, 10000};
        const std::size_t size = random() % 3 == 0 ? sizes[random() % 8] : random() % 8000;
        exercise(random, randomBytes(random, size));
    }
}

TEST(MutatedTablesLoadOrFailCleanly)
{
    std::mt19937 random(1213);
    const std::string fixture = testData("three-users.acl");
    for (int round = 0; round < 3000; ++round) {
        if (round % 50 == 0)
            resetUserTable();
        exercise(random, mutate(random, fixture));
    }
}
