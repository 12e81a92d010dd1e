// The digests that identify the game data set this build runs on: the marker archive
// "zzzz.saf" (its first 1 MiB) and the fixed bike and rider collision shapes, in the order
// the start-up hashes them. Both come from the starter data set that tools/dvgen writes;
// tests/test_starter_data.cpp fails when the generated files and these disagree.
#pragma once

constexpr const char GAME_DATA_DIGEST[] = "ac762887ad15d2f9003f900103679b01e4437a40";
constexpr const char FIXED_FILES_DIGEST[] = "664903336b73a95404168dab4a72130c526e4e70";
