# Doxygen input filter: the public headers are commented in plain // and /* */
# so that they read well as code; this turns those comments into Doxygen's
# (the first block of a file describes the file, a comment after a member
# describes that member) without a second comment style in the headers.
1s,^// ,/// \\file\n/// ,
1s,^/\* ,/** \\file\n * ,
s,^\( *\)// ,\1/// ,
s,^\( *\)//$,\1///,
s,^\( *\)/\* ,\1/** ,
s,\([;,{]\) *// ,\1  ///< ,
s,\([;,]\) */\* ,\1  /**< ,
# A Windows path in a comment (C:\ZALK3071\) is text, not a Doxygen command.
/^ *\(\*\|\/\/\)/s,\\\([A-Z]\),\\\\\1,g
