// The recorder's verbs, which the pacifica command and the game shell
// run, and what they share: the game of the shell and the lines that
// send a player on.
#pragma once

#include <string_view>

#include "record/game.hpp"

// How the pacifica command is used, for a line that says it was not.
constexpr std::string_view usage_text =
    "usage: pacifica [--no-hints] [DIR]\n"
    "       pacifica --new [--yes] [--no-hints] [DIR]\n"
    "       pacifica --report [--wide | --csv [--per-student [--points-possible]]]\n"
    "                         [--class GROUP] [--roster FILE]\n"
    "                         [PLACE... | --merge CSV...]\n"
    "       pacifica --report --clear [--yes]\n"
    "       pacifica --walkthrough | --help | --version\n";

// What a verb of the game shell says in a shell whose game is not in the
// record.
constexpr std::string_view no_game = "this shell plays no game that the record knows";

int cmd_play(int argc, char **argv);
int cmd_run(int argc, char **argv);
int cmd_bridge(int argc, char **argv);
int cmd_steps();
int cmd_view(int argc, char **argv);
int cmd_leave();
int cmd_note(int argc, char **argv);
int cmd_report(int argc, char **argv);
int cmd_hint();
int cmd_help(int argc, char **argv);
int cmd_by_hand(char **argv);

// The game of the shell and its state, from the record; whether the
// working directory is the game's.
bool the_game(Game &g);
bool here(const Game &g);
bool hints_on();
long game_number();
void back_command(Buf &to, std::string_view dir);
// A command the player is to type: 'WORD' in the sentence when it is one
// word, else on a line of its own after it, indented, so that no wrap
// breaks it.  before ends the sentence that leads to it, after the one
// that follows a word.
void command_said(Buf &to, std::string_view before, std::string_view command, std::string_view after);
void next_line(const Game &g);
void steps_map(Buf &to, const Game &g);
void duration(Buf &to, long seconds);
