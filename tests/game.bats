#!/usr/bin/env bats
# A whole game in one playing directory, as a player would go through it.

load helpers
load texts

step() { run_level "$1"; expect 0 "$2"; }

@test "the game from the first step to the last" {
	step prologue "$prologue_intro"
	mkdir Pacifica; mv Jean Pacifica/
	step resettle "$resettle_intro"
	mkdir Pacifica_Copy; cp Pacifica/Jean Pacifica_Copy/
	step duplicate "$urgent_alert"
	same_bytes "$alert_name" "$alert_file"
	mkdir -p "$stronghold"
	run_level raze; expect 0 "$raze_now"
	rm -r yklim_yaw
	step raze "$victory"
	step celebrate "$openings"
	mkdir jail; mv .grob jail/
	step celebrate "$jailed"
	mv jail indefinite_detention_center
	step retribute "$justice"
}
