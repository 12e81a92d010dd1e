// Start-up, command line, frame loop and exit path of the game.
#pragma once

// The whole program: start-up, the frame loop and the orderly exit; returns the exit status.
int game_main(int argc, char **argv);
