// The feed list in the host's settings store: "nFeeds" and one key per feed
// field ("Feed<i>_<field>"). The host is called here, never with the
// engine's lock held.
#pragma once

#include <vector>

#include "common/records.h"

// The stored feeds' configuration (a damaged count reads as none, or as a
// bounded number); fields not stored keep their defaults.
std::vector<CLumoraFeed> ReadStoredFeeds();
void WriteStoredFeeds(const std::vector<CLumoraFeed>& feeds);
