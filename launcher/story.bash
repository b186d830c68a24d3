# What the game knows about its story, written once: the steps, every
# answer of every program and how it is told from the others, and the
# hints.  The step map, the walkthrough, the progress, the hints and the
# report all read these tables.
# shellcheck shell=bash disable=SC2016

# The steps in story order, one a row: the step, the command that judges
# it, its line in the step map, and the line that sends a player on to it.
# The bridge is the game shell's own command, not a program.
pacifica_step_rows=(
	'prologue|prologue|begins it: Jean, a file, is a long way from home|Next: run prologue to begin.'
	'resettle|resettle|Jean must be home, in a directory called Pacifica|Next: when Jean is home in Pacifica, run resettle.'
	'duplicate|duplicate|Jean must be backed up: a true copy in Pacifica_Copy|Next: when Jean is backed up in Pacifica_Copy, run duplicate.'
	'bridge|confirm_shellwatch_message WORD|confirm the alert; the Grob catch you, you escape|Next: find and read the alert file; confirm it with confirm_shellwatch_message.'
	'raze|raze|the Grob stronghold you escaped from must be deleted|Next: when the stronghold is deleted, run raze.'
	'celebrate|celebrate|a Grob hides in the crowd; he must be put in a jail|Next: run celebrate; when the Grob it hides is in a jail, run it again.'
	'retribute|retribute|the jail must become an indefinite_detention_center|Next: when the jail is an indefinite_detention_center, run retribute.'
)

# Every answer of every program, one a row: the program, the answer's key
# in the journal, the status it ends with, "done" when it completes the
# program's step, and the opening of its standard output.  The first row
# that fits a run names its answer; an empty opening fits only a run that
# printed nothing, and "*" fits any output.
pacifica_answer_rows=(
	'prologue|briefing|0|done|I have a friend named Jean'
	'prologue|unwritable|1||Unable to write to current directory.'
	'resettle|home|0|done|Jean is concerned about a rekindling'
	'resettle|liar|1||Liar! Jean is not home!'
	'duplicate|alert|0|done|URGENT INCOMING MESSAGE FROM SHELLWATCH COMMAND!'
	'duplicate|unwritable|1||URGENT INCOMING MESSAGE FROM SHELLWATCH COMMAND!'
	'duplicate|nojean|0||Where is Jean?'
	'duplicate|scared|0||Jean is very worried!'
	'duplicate|symlink|0||You made a symbolic link to Jean!'
	'duplicate|imperfect|0||One of these Jeans seems to be an imperfect clone'
	'raze|victory|0|done|Hooray! You defeated the Grob!'
	'raze|standing|0||The directory structure you just escaped from'
	'celebrate|jailed|0|done|Now that the Grob is in jail'
	"celebrate|planted|0||You've eradicated the Grob menace"
	'celebrate|nojail|0||The citizens are terrified.'
	"celebrate|loose|0||There's a very nice jail, but the Grob is still loose!"
	'celebrate|wrong|1||The wrong Grob is in jail!'
	'celebrate|replanted|0||'
	'celebrate|failed|1||*'
	'retribute|done|0|done|Great! Now that justice is done'
	'retribute|angry|0||The Pacificans are very angry'
	'retribute|wrong|1||The wrong Grob is in the jail!'
	'retribute|readerror|1||read error'
)

# The first line of the file Jean, the word the alert file asks for, and the stronghold the bridge builds.
pacifica_jean='This is a file with specific contents. Its contents are of no importance to you. Move along, citizen.'
pacifica_word=towards
pacifica_stronghold=yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob
pacifica_alert=emergenETALIMISSAm-_sion.txt

# The hints, one situation a row: the situation, the idea and the
# commands that help, then the exact command lines, separated by "|".
# A situation is a step the player is on, an answer of a program, or one
# of the cases that an answer covers (told apart by pacifica_situation).
# "$game" in a command line stands for the playing directory.
pacifica_hint_rows=(
	'step-prologue|prologue begins the story: it writes the file Jean here and tells you what to do with him.|prologue'
	'step-bridge|An alert file with a garbled name has arrived: ls lists it, cat reads it; type its first letters and press Tab, or put its name in quotes. It asks you to run confirm_shellwatch_message with the 10th word of its message.|ls|cat emergenETALIMISSAm-_sion.txt|confirm_shellwatch_message towards'
	'alert-gone|The alert file is gone; duplicate writes it again. ls lists it, cat reads it, and it asks you to run confirm_shellwatch_message with the 10th word of its message.|duplicate|cat emergenETALIMISSAm-_sion.txt|confirm_shellwatch_message towards'
	'bridge-word|confirm_shellwatch_message wants the 10th word of the message in the alert file: read it with cat and count the words from "An".|cat emergenETALIMISSAm-_sion.txt|confirm_shellwatch_message towards'
	'step-raze|The stronghold is a tree of directories starting at yklim_yaw. rm refuses a directory and rmdir refuses one that is not empty; rm -r deletes a directory and everything in it.|rm -r yklim_yaw|raze'
	'raze-premature|raze found no stronghold, because none has been built in this game yet: the alert file comes first. Read it and confirm it with confirm_shellwatch_message and its 10th word.|cat emergenETALIMISSAm-_sion.txt|confirm_shellwatch_message towards'
	'step-celebrate|celebrate hides a Grob in a file whose name begins with a dot, which ls does not show: ls -a does. Make a directory called jail and move the Grob into it with mv.|celebrate|ls -a|mkdir jail|mv .grob jail/|celebrate'
	'celebrate-nojail|The Grob hides in .grob, a hidden file: ls -a shows it. Make a directory called jail with mkdir and move the Grob into it with mv.|ls -a|mkdir jail|mv .grob jail/|celebrate'
	'celebrate-loose|The Grob hides in .grob, a hidden file that ls -a shows, and must be moved into the jail with mv.|ls -a|mv .grob jail/|celebrate'
	'celebrate-copied|The Grob was copied into the jail, not moved: ls -a jail shows him there, and celebrate hid him again here. One Grob is enough: delete the one left here.|ls -a . jail|rm .grob|celebrate'
	'celebrate-jail-file|jail is a file, not a directory, so nothing can be put in it. Delete it and make a directory called jail instead.|rm jail|mkdir jail|celebrate|mv .grob jail/|celebrate'
	'celebrate-replanted|celebrate hid the Grob here again without a word: he is in .grob, a hidden file that ls -a shows. Move him into the jail.|ls -a|mv .grob jail/|celebrate'
	'celebrate-wrong|The file in jail/.grob is not the Grob that celebrate hid. Delete it; celebrate then hides the Grob again, silently, and you move him into the jail.|rm -r jail/.grob|celebrate|mv .grob jail/|celebrate'
	'celebrate-failed|celebrate could not read or write a Grob file: the line it printed says which and why. ls -la shows the files and their permissions; chmod u+rw gives them back to you.|ls -la . jail|chmod u+rw . .grob jail jail/.grob|celebrate'
	'retribute-copied|The jail still stands: it was copied, not renamed. Delete the copy and rename the jail with mv.|rm -r indefinite_detention_center|mv jail indefinite_detention_center|retribute'
	'retribute-jail|The jail must get a new name: mv renames a directory, and everything in it goes along.|mv jail indefinite_detention_center|retribute'
	'retribute-nogrob|The Grob must be inside indefinite_detention_center, as .grob. ls -a shows hidden files; celebrate hides the Grob again when he is nowhere to be found.|celebrate|mkdir -p indefinite_detention_center|mv .grob indefinite_detention_center/|retribute'
	'retribute-loose|The Grob is loose here, in .grob (ls -a shows him), and must be moved into indefinite_detention_center.|mkdir -p indefinite_detention_center|mv .grob indefinite_detention_center/|retribute'
	'retribute-wrong|indefinite_detention_center/.grob is not the Grob that celebrate hid. Delete it; celebrate hides the Grob again, and you move him into the detention center.|rm -r indefinite_detention_center/.grob|celebrate|mv .grob indefinite_detention_center/|retribute'
	'prologue-unwritable|prologue cannot write the file Jean here: this directory is not yours to write, or Jean is a directory. ls -ld shows the permissions; chmod u+w gives them back.|ls -ld . Jean|chmod u+w .|prologue'
	'prologue-jean-dir|Jean is a directory here, so prologue cannot write the file Jean. Move the directory out of the way.|mv Jean Jean.old|prologue'
	'resettle-copied|Jean was copied into Pacifica, not moved: he is still here too, and resettle wants him only at Pacifica/Jean. Delete the one left here.|rm -r Jean|resettle'
	'resettle-nopacifica|Jean lives in a directory called Pacifica, which does not exist yet: mkdir makes it, mv moves Jean into it.|mkdir Pacifica|mv Jean Pacifica/|resettle'
	'resettle-notmoved|Pacifica is there, but Jean is still here: move him into it with mv.|mv Jean Pacifica/|resettle'
	'resettle-edited|Pacifica/Jean is not the Jean that prologue wrote: his first line was changed. prologue writes him afresh; move that one into Pacifica over the old.|prologue|mv Jean Pacifica/|resettle'
	'resettle-lost|Jean is neither here nor in Pacifica. prologue writes him afresh; then move him into Pacifica.|prologue|mkdir -p Pacifica|mv Jean Pacifica/|resettle'
	'duplicate-nojean|duplicate finds neither Pacifica/Jean nor Pacifica_Copy/Jean. Jean must be home in Pacifica first, then copied to Pacifica_Copy.|mkdir -p Pacifica Pacifica_Copy|prologue|mv Jean Pacifica/|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	'duplicate-nocopy|Jean is home, but there is no copy of him: make a directory called Pacifica_Copy and copy him into it with cp.|mkdir -p Pacifica_Copy|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	'duplicate-noorigin|There is a copy in Pacifica_Copy, but Jean himself is missing from Pacifica: copy him back with cp.|mkdir -p Pacifica|cp Pacifica_Copy/Jean Pacifica/|duplicate'
	'duplicate-symlink|Pacifica_Copy/Jean is a symbolic link (ls -l shows an arrow), not a copy. Delete the link and copy Jean with cp.|ls -l Pacifica_Copy|rm Pacifica_Copy/Jean|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	'duplicate-symlink-origin|Pacifica/Jean is a symbolic link (ls -l shows an arrow), not Jean himself. Delete the link and copy Jean back from Pacifica_Copy with cp.|ls -l Pacifica|rm Pacifica/Jean|cp Pacifica_Copy/Jean Pacifica/|duplicate'
	'duplicate-imperfect|The first lines of Pacifica/Jean and Pacifica_Copy/Jean differ, or one of them cannot be read. Copy Jean over the bad copy with cp.|rm -r Pacifica_Copy/Jean|cp Pacifica/Jean Pacifica_Copy/|duplicate'
	'duplicate-unwritable|duplicate could not write the alert file here: ls -ld shows why. chmod u+w gives you the directory back; then run duplicate again.|ls -ld .|chmod u+w .|duplicate'
	'outside|The programs judge the directory they run in, and your game is in $game: go there with cd.|cd $game'
	'celebrate-nogrob|The Grob is nowhere to be found: celebrate hides him here again, without a word, in .grob (ls -a shows him); then move him into the jail.|celebrate|ls -a|mv .grob jail/|celebrate'
	'ready|Everything looks in place: run $program to have it judged.|$program'
	'finished|The game is finished: every step is done. pacifica --new starts a new game.|exit|pacifica --new'
)

# The texts of the game shell itself.
pacifica_hint_more='There is nothing more to tell about this; '\''steps'\'' shows where you are, and '\''man pacifica'\'' tells the rest.'
pacifica_nudge="Stuck? Type 'hint'."
