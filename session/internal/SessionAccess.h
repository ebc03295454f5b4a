#pragma once

// What the core's own tests and the tests' table builder may see of a
// session beyond its face: the store's table it holds in memory. Nothing
// above the core includes this.

#include "session/Session.h"

#include "store/UserTable.h"

struct SessionAccess
{
    static const UserTable& table(const Session& session) { return session.m_table; }
};
