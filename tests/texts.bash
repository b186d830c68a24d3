# The game's texts as the player must see them, written out here on their
# own so that a slip in a program's copy shows up.

jean=$'This is a file with specific contents. Its contents are of no importance to you. Move along, citizen.\n'

prologue_intro=$'I have a friend named Jean who is a long long way from home. He \nused to live in a subdirectory of here, but then it was deleted \nin the Great Filesystem Wars. His home was a lovely directory \ncalled Pacifica. Can you make it again for him and put him in \nthere? When you\'ve done it, let his family and friends know by \ntelling them that he\'s home.\n'
cannot_write=$'Unable to write to current directory. Perhaps you lack permissions? Fix this and re-run.\n'

resettle_intro=$'Jean is concerned about a rekindling of hostilities in the Wars,\nand wants himself backed up in case anything bad happens to Pacifica.\nMake a Pacifica_Copy directory and copy Jean to it so that he\'s safely\nin both places. Then, tell us that Jean is safe.\n'
liar=$'Liar! Jean is not home!\nHe belongs in ./Pacifica/Jean, and nowhere else.\n'

wheres_jean=$'Where is Jean? If you completed the first part of the puzzle pack in a\ndifferent directory, please move Pacifica into the current directory.\n'
jean_scared=$'Jean is very worried! Please make a backup copy of him in a Pacifica_Copy\ndirectory so he can be safe and sound in both places.\n'
jean_still_scared=$'You made a symbolic link to Jean! Unfortunately, if Jean is lost, the\nlink will be useless. Please make sure identical copies of him are at\nboth places.\n'
jean_not_copy=$'One of these Jeans seems to be an imperfect clone of the other! Please\nmake sure identical copies of him are at both places.\n'
urgent_alert=$'URGENT INCOMING MESSAGE FROM SHELLWATCH COMMAND!\nTo the citizens of Pacifica:\nA malicious ship is approaching quickly. Details are in a file we\'ve\ndownloaded to your current directory. The filename probably got garbled\nduring transmission, but you must find it and examine its contents if you\nwish to survive!\n'
alert_name=emergenETALIMISSAm-_sion.txt
alert_file=$'An incoming ship from the Grob Evitcelloc is headed towards your planet.\nThe Grobs are equipped with dangerous technology designed to disorient you\nand make you feel lost and confused. Caution is #SDE%L(. Make sure you keep\naware of where you are and remember to $#@FDE#*)---!!!\nAs part of standard Shellwatch proc$#ure, please confirm receipt of this\nmessage by running \'confirm_shellwatch_message\' with the 10th word of this\nmessage as an argument.\n'

stronghold=yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob
victory=$'Hooray! You defeated the Grob! Time to celebrate!\n'
raze_now=$'The directory structure you just escaped from (starting from "yklim_yaw/atled_tnardauq/societies/sevitcelloc/grob") is a Grob stronghold. If we are to be safe, it *must* be deleted!\n'

grob_record=$'We the Grob are great and strong! Resistance is elituf!\n'
openings=$'You\'ve eradicated the Grob menace from our home!\n\nThe residents of Pacifica are thrilled. And there is much rejoicing. A racous party breaks out. For the first time in a while, the residents feel safe and comfortable.\nYou\'re being lauded as a hero, and the citizens start to demand you give a speech. An impromptu stage is set up and everyone starts paying attention to it as you make your way up.\nSuddenly, there\'s a commotion in the crowd and a Grob marine breaks out from the crowd onto the stage.\n\n"Death to the shellwatch scum! You killed my comrades but you will never stop me! I will fight until the Grob have assimilated you all!"\nThe Grob marine disappears into the crowd, and the villagers start to panic.\nWe need to make a jail directory, find the hidden Grob and take him there!\n'
no_jail=$'The citizens are terrified. The Grob is on the loose and there\'s not even a jail to hold it yet!\n'
loose=$'There\'s a very nice jail, but the Grob is still loose! For the safety of all, please put it in jail!\n'
wrong_jailed=$'The wrong Grob is in jail! Delete it and run me again.\n'
jailed=$'Now that the Grob is in jail, the Pacificans want retribution against it for the terror it caused them.\n'

angry=$'The Pacificans are very angry and want the jail to become an indefinite_detention_center so they can use advanced interrogation techniques against captured Grob.\n'
read_error=$'read error\n'
wrong_detained=$'The wrong Grob is in the jail!\n'
justice=$'Great! Now that justice is done, we should probably warn the Grob about the lack of due process in these parts.\n'
