// The built-in message table: every text the runtime shows, by message id.
// Error codes reach these through the code table in error_message_ids.cpp;
// a loaded catalog may replace any entry by the string of the same index.
// Ids without a text answer null, so that a catalog string, when present,
// is the only text of that id.
#include "core/io/messages.h"

const MessageEntry MessageTable[MESSAGE_COUNT] = {
    {0, "No error occurred!"}, // MSG_NO_ERROR
    {1, "Out of memory!"}, // ERR_MEM
    {2, "This command is not implemented yet!"}, // ERR_UNIMPLCMD
    {3, "This function does not return a value!"}, // ERR_NORETVAL
    {4, "User abort!"}, // ERR_USERABORT
    {5, "Unable to open screen!"}, // ERR_SCREEN
    {6, "Could not write all characters to file!\nCheck if there is enough free space!"}, // ERR_WRITE
    {7, "Unterminated string!"}, // ERR_UNTERMINTDSTR
    {8, "Unknown condition!"}, // ERR_UNKNOWNCOND
    {9, "Missing separator!"}, // ERR_MISSINGSEPARTR
    {10, "Could not read all characters from file!\nCheck if it is read protected!"}, // ERR_READ
    {11, "Unable to open window!"}, // ERR_WINDOW
    {12, "Else without If!"}, // ERR_ELSEWOIF
    {13, "EndIf without If!"}, // ERR_ENDIFWOIF
    {14, "If without EndIf!"}, // ERR_IFWOENDIF
    {15, "Not enough arguments!"}, // ERR_MISSINGPARAMTR
    {16, "For without Next!"}, // ERR_FORWONEXT
    {17, "Next without For!"}, // ERR_NEXTWOFOR
    {18, "While without Wend!"}, // ERR_WHILEWOWEND
    {19, "Syntax error!"}, // ERR_SYNTAXERROR
    {20, "Wrong data type!"}, // ERR_WRONGDTYPE
    {21, "Invalid variable name!"}, // ERR_VARSYNTAX
    {22, "Wend without While!"}, // ERR_WENDWOWHILE
    {23, "Unknown command %s !"}, // ERR_UNKNOWNCMD
    {24, "Missing bracket!"}, // ERR_MISSINGBRACKET
    {25, "Value expected!"}, // ERR_VALUEEXPECTED
    {26, "Cannot open %s !"}, // ERR_OPENLIB
    {27, "Variable expected!"}, // ERR_VAREXPECTED
    {28, "Labels are not allowed inside For loops!"}, // ERR_LABINFOR
    {29, "Labels are not allowed inside If blocks!"}, // ERR_LABINIF
    {30, "Labels are not allowed inside While loops!"}, // ERR_LABINWHILE
    {31, "Wrong operator for this type!"}, // ERR_WRONGOP
    {32, "Could not load icon %s!"}, // ERR_GETDISKOBJ
    {33, "Event expected!"}, // ERR_EVNTEXPCTED
    {34, "Object is empty!"}, // ERR_EMPTYOBJ
    {35, "Script is empty!"}, // ERR_EMPTYSCRIPT
    {36, "Unterminated comment block!"}, // ERR_COMMENTSTRUCT
    {37, "%s has already been declared!"}, // ERR_ALRDYDECLRD
    {38, "Invalid floating point value!"}, // ERR_WRONGFLOAT
    {39, "Field %s is required!"}, // ERR_REQUIREFIELD
    {40, "Value out of range!"}, // ERR_OUTOFRANGE
    {41, "Return without Gosub!"}, // ERR_RETWOGOSUB
    {42, "Requested object not found!"}, // ERR_FINDARRAY
    {43, "Constant %s not found!"}, // ERR_FINDCST
    {44, "Could not lock %s!"}, // ERR_LOCK
    {45, "Cannot load picture %s!"}, // ERR_LOADPICTURE
    {46, "Cannot read file %s !"}, // ERR_READFILE
    {47, "This is not a Protracker module!"}, // ERR_NOTPROTRACKER
    {48, "Unknown sequence!"}, // ERR_UNKNOWNSEQ
    {49, "Could not lock directory %s!"}, // ERR_DIRLOCK
    {50, "Unknown keyword %s!"}, // ERR_KEYWORD
    {51, "This program requires a newer operating system!"}, // ERR_KICKSTART
    {52, "Cannot free the background picture that is currently displayed!"}, // ERR_FREEABGPIC
    {53, "Cannot write to file %s !"}, // ERR_WRITEFILE
    {54, "Wrong version!"}, // ERR_VERSION
    {55, "No function specified!"}, // ERR_NOFUNCTION
    {56, "Wrong usage/parameters for this command!\nRead the documentation!"}, // ERR_WRONGUSAGE
    {57, "Cannot select the background picture that is currently displayed!"}, // ERR_SELECTBG
    {58, "Array %s was not declared!"}, // ERR_ARRAYDECLA
    {59, "Commands cannot be used as variables!"}, // ERR_CMDASVAR
    {60, "Configuration error!"}, // ERR_CONFIG
    {61, "Invalid arguments!"}, // ERR_ARGS
    {62, "%s was declared twice!"}, // ERR_DOUBLEDECLA
    {63, "Equal sign expected!"}, // ERR_EQUALEXPECTED
    {64, "Cannot open animation %s!"}, // ERR_OPENANIM
    {65, "Cannot open sound file %s!"}, // ERR_OPENSOUND
    {66, "Internal limit encountered! Contact the author..."}, // ERR_INTERNAL
    {67, "Cannot find public screen %s!"}, // ERR_PUBSCREEN
    {68, "Brush %ld is linked to another object!"}, // ERR_BRUSHLINK
    {69, "Invalid id specified!"}, // ERR_WRONGID
    {70, "Cannot open audio device!"}, // ERR_AHI
    {71, "Variable name is too long!"}, // ERR_VARLENGTH
    {72, "Label %s not found!"}, // ERR_LABELDECLA
    {73, "Label %s was declared twice!"}, // ERR_LABELDOUBLE
    {74, "No keywords specified!"}, // ERR_NOKEYWORDS
    {75, "Constants are not allowed here!"}, // ERR_NOCONSTANTS
    {76, "Seek error!"}, // ERR_SEEK
    {77, "Constant %s was defined twice!"}, // ERR_CSTDOUBLEDEF
    {78, "This function requires enabled layers!"}, // ERR_NOLAYERS
    {79, "This function does not support layers!"}, // ERR_LAYERSUPPORT
    {80, "Unknown attribute specified!"}, // ERR_UNKNOWNATTR
    {81, "Specified layer is out of range!"}, // ERR_LAYERRANGE
    {82, "Cannot select brush %ld as output device!"}, // ERR_SELECTBRUSH
    {83, "Unsupported pointer image format!"}, // ERR_POINTERFORMAT
    {84, "Error creating directory %s !"}, // ERR_CREATEDIR
    {85, "Invalid display size!"}, // ERR_DISPLAYSIZE
    {86, "Display is larger than the desktop!"}, // ERR_DISPLAYDESKTOP
    {87, "Error rendering graphics!"}, // ERR_GUIGFX
    {88, "Render error!"}, // ERR_RENDER
    {89, "Division by zero!"}, // ERR_ZERODIVISION
    {90, "This feature requires a PowerPC processor!"}, // ERR_WARPOS
    {91, "Unknown error code!"}, // MSG_UNKNOWN_ERROR_CODE
    {92, "current line"}, // MSG_CURRENT_LINE
    {93, "Unknown error!"}, // ERR_UNKNOWN
    {94, "String constant expected!"}, // ERR_STRINGCST
    {95, "done"}, // MSG_DONE
    {96, "Labels are not allowed inside functions!"}, // ERR_LABINFUNC
    {97, "Opening script %s"}, // MSG_OPENING_SCRIPT
    {98, "Specified animation frame is out of range!"}, // ERR_ANIMFRAME
    {99, "Repeat without Until!"}, // ERR_REPEATWOUNTIL
    {100, "Until without Repeat!"}, // ERR_UNTILWOREPEAT
    {101, "Function without EndFunction!"}, // ERR_FUNCWOENDFUNC
    {102, "EndFunction without Function!"}, // ERR_ENDFUNCWOFUNC
    {103, "Unexpected symbol!"}, // ERR_UNEXPECTEDSYM
    {104, "Wrong number of function arguments!"}, // ERR_FUNCARGS
    {105, "No loop to break out of!"}, // ERR_NOLOOP
    {106, "Compiling script"}, // MSG_COMPILING_SCRIPT
    {107, "Loading plugin %s"}, // MSG_LOADING_PLUGIN
    {108, "failed"}, // MSG_FAILED
    {109, "%s expected!"}, // ERR_TOKENEXPECTED
    {110, "Opening bracket expected!"}, // ERR_BRACKETOPEN
    {111, "Closing bracket expected!"}, // ERR_BRACKETCLOSE
    {112, "Opening brace expected!"}, // ERR_BRACEOPEN
    {113, "Closing brace expected!"}, // ERR_BRACECLOSE
    {114, "Opening square bracket expected!"}, // ERR_SQBRACKETOPEN
    {115, "Closing square bracket expected!"}, // ERR_SQBRACKETCLOSE
    {116, "Comma expected!"}, // ERR_NOCOMMA
    {117, "Too many syntax levels!"}, // ERR_SYNTAXLEVELS
    {118, "While expression is too complex!"}, // ERR_COMPLEXWHILE
    {119, "Character expected!"}, // ERR_NOCHAR
    {120, "Character constant is too long!"}, // ERR_CHRCSTLEN
    {121, "Character constant is empty!"}, // ERR_CHRCSTEMPTY
    {122, "Hexadecimal numbers must not contain a decimal point!"}, // ERR_HEXPOINT
    {123, "Numbers cannot be concatenated!"}, // ERR_NUMCONCAT
    {124, "Too many local variables!"}, // ERR_MAXLOCALS
    {125, "Too many upvalues!"}, // ERR_MAXUPVALS
    {126, "Too many parameters!"}, // ERR_MAXPARAMS
    {127, "Too many items in table constructor!"}, // ERR_CONITEMS
    {128, "Too many lines in chunk!"}, // ERR_MAXLINES
    {129, "Expression is too complex!"}, // ERR_COMPLEXEXPR
    {130, "Control structure is too long!"}, // ERR_CTRLSTRUCT
    {131, "Colon expected!"}, // ERR_NOCOLON
    {132, "Case expression must be a constant!"}, // ERR_CASECST
    {133, "Switch without EndSwitch!"}, // ERR_SWCHWOENDSWCH
    {134, "EndSwitch without Switch!"}, // ERR_ENDSWCHWOSWCH
    {135, "Block without EndBlock!"}, // ERR_BLKWOENDBLK
    {136, "EndBlock without Block!"}, // ERR_ENDBLKWOBLK
    {137, "Attempt to compare a number with a string!"}, // ERR_NUMSTRCMP
    {138, "Wrong data types for concatenation!"}, // ERR_CONCAT
    {139, "Table %s not found!"}, // ERR_TABLEDECLA
    {140, "Function %s not found!"}, // ERR_FUNCDECLA
    {141, "Internal limit reached! Error code %s."}, // ERR_INTERNAL1
    {142, "Stack overflow!"}, // ERR_STACK
    {143, "Not enough memory for code!"}, // ERR_MEMCODE
    {144, "Not enough memory for constants!"}, // ERR_MEMCST
    {145, "Number expected in argument %ld!"}, // ERR_NUMEXPECTED
    {146, "String expected in argument %ld!"}, // ERR_STREXPECTED
    {147, "Table expected in argument %ld!"}, // ERR_TABEXPECTED
    {148, "File was opened in read-only mode!"}, // ERR_READONLY
    {149, "File was opened in write-only mode!"}, // ERR_WRITEONLY
    {150, "Could not delete %s!"}, // ERR_DELETEFILE
    {151, "Could not examine %s!"}, // ERR_EXAMINE
    {152, "Could not rename %s!"}, // ERR_RENAME
    {153, "Memory access out of range!"}, // ERR_MEMRANGE
    {154, "Cannot select mask as output device!"}, // ERR_SELECTMASK
    {155, "Cannot modify the background picture that is currently displayed!"}, // ERR_MODIFYABG
    {156, "Cannot modify a brush that is in use!"}, // ERR_MODIFYABR
    {157, "Cannot jump into or out of functions!"}, // ERR_FUNCJMP
    {158, "Reserved word %s cannot be used here!"}, // ERR_REVDWORD
    {159, "Could not lock bitmap!"}, // ERR_LOCKBMAP
    {160, "This function does not work on palette screens!"}, // ERR_PALSCREEN
    {161, "Negative coordinates are not allowed!"}, // ERR_NEGCOORDS
    {162, "Specified layer is not an anim layer!"}, // ERR_NOANMLAYER
    {163, "Invalid brush size!"}, // ERR_BRUSHSIZE
    {164, "EndWith without With!"}, // ERR_ENDWITHWOWITH
    {165, "With without EndWith!"}, // ERR_WITHWOENDWITH
    {166, "Table field %s was not initialized!"}, // ERR_FIELDINIT
    {167, "Labels are only allowed in the main block!"}, // ERR_LABMAINBLK
    {168, "Name %s is already used!"}, // ERR_NAMEUSED
    {169, "Layers are already disabled!"}, // ERR_LAYERSOFF
    {170, "Layers are already enabled!"}, // ERR_LAYERSON
    {171, "No loop to continue!"}, // ERR_NOLOOPCONT
    {172, "Loop level out of range!"}, // ERR_LOOPRANGE
    {173, "Integer expected!"}, // ERR_INTEXPECTED
    {174, "Cannot select alpha channel as output device!"}, // ERR_SELECTALPHACHANNEL
    {175, "Pixel coordinates are out of range!"}, // ERR_PIXELRANGE
    {176, "Could not load alpha channel!"}, // ERR_DATATYPEALPHA
    {177, "Image \"%s\" does not have an alpha channel!"}, // ERR_NOALPHA
    {178, "Unsupported pixel format!"}, // ERR_PIXELFORMAT
    {179, "Brush does not have a mask!"}, // ERR_NOMASKBRUSH
    {180, "Forever without Repeat!"}, // ERR_FOREVERWOREPEAT
    {181, "Could not find brush %ld!"}, // ERR_FINDBRUSH
    {182, "Could not find text object %ld!"}, // ERR_FINDTEXTOBJECT
    {183, "Could not find anim %ld!"}, // ERR_FINDANIM
    {184, "Could not find background picture %ld!"}, // ERR_FINDBGPIC
    {185, "Could not find sample %ld!"}, // ERR_FINDSAMPLE
    {186, "Could not find file handle %ld!"}, // ERR_FINDFILE
    {187, "Could not find memory block %ld!"}, // ERR_FINDMEMBLK
    {188, "Could not find timer %ld!"}, // ERR_FINDTIMER
    {189, "Could not find move object %ld!"}, // ERR_FINDMOVE
    {190, "String or number expected!"}, // ERR_STRORNUM
    {191, "Invalid percent format!"}, // ERR_PERCENTFORMAT
    {192, "Function expected in argument %ld!"}, // ERR_FUNCEXPECTED
    {193, "Unmatched parentheses!"}, // ERR_UNMPARENTHESES
    {194, "File"}, // MSG_FILE
    {195, "Wrong operator for constant!"}, // ERR_WRONGOPCST
    {196, "Could not find button %ld!"}, // ERR_FINDBUTTON
    {197, "Number expected in table argument \"%s\"!"}, // ERR_NUMTABLEARG
    {198, "Callback function must return a number!"}, // ERR_NUMCALLBACK
    {199, "Buttons are only possible on background pictures!"}, // ERR_BGPICBUTTON
    {200, "Invalid hexadecimal number!"}, // ERR_WRONGHEX
    {201, "Too many arguments!"}, // ERR_TOOMANYARGS
    {202, "Could not find interval %ld!"}, // ERR_FINDINTERVAL
    {203, "Could not find timeout %ld!"}, // ERR_FINDTIMEOUT
    {204, "Cannot load sound %s!"}, // ERR_LOADSOUND
    {205, "String expected!"}, // ERR_STRINGEXPECTED
    {206, "Unexpected end of file!"}, // ERR_UNEXPECTEDEOF
    {207, "Virtual machine data type mismatch!"}, // ERR_VMMISMATCH
    {208, "Bad integer in bytecode!"}, // ERR_BADINTEGER
    {209, "Bad upvalues in bytecode!"}, // ERR_BADUPVALUES
    {210, "Bad constant type in bytecode!"}, // ERR_BADCONSTANT
    {211, "Bad bytecode!"}, // ERR_BADBYTECODE
    {212, "Bad bytecode signature!"}, // ERR_BADSIGNATURE
    {213, "Unknown number format in bytecode!"}, // ERR_UNKNUMFMT
    {214, "Invalid key for next table item!"}, // ERR_INVNEXTKEY
    {215, "Table overflow!"}, // ERR_TABLEOVERFLOW
    {216, "Table index is NaN!"}, // ERR_TABLEINDEX
    {217, "This applet requires Quillmere %s or higher!"}, // ERR_APPLETVERSION
    {218, "Unknown section in applet!"}, // ERR_UNKNOWNSEC
    {219, "This is not a Quillmere applet!"}, // ERR_NOAPPLET
    {220, "Compilation is not possible with QuillmerePlayer!"}, // ERR_PLAYERCOMP
    {221, "File %s does not exist!"}, // ERR_FILEEXIST
    {222, "Invalid magic key!"}, // ERR_MAGICKEY
    {223, "Could not find clip region %ld!"}, // ERR_FINDCLIPREGION
    {224, "This function has been removed!"}, // ERR_FUNCREMOVED
    {225, "Coordinates are out of range!"}, // ERR_COORDSRANGE
    {226, "Invalid dimensions!"}, // ERR_BADDIMENSIONS
    {227, "Could not find sprite %ld!"}, // ERR_FINDSPRITE
    {228, "Sprite %ld is not on screen!"}, // ERR_SPRITEONSCREEN
    {229, "Unknown preprocessor command %s!"}, // ERR_PREPROCSYM
    {230, "Unknown tag \"%s\"!"}, // ERR_UNKNOWNTAG
    {231, "Mask and alpha channel cannot be used together!"}, // ERR_MASKNALPHA
    {232, "No sprites on screen!"}, // ERR_NOSPRITES
    {233, "Invalid clip region!"}, // ERR_WRONGCLIPREG
    {234, "No clip region installed!"}, // ERR_NOCLIPREG
    {235, "Cannot modify a sprite that is on screen!"}, // ERR_MODIFYSPRITE
    {236, "Cannot modify a sprite that is used by another sprite!"}, // ERR_MODIFYSPRITE2
    {237, "Double buffering is not active!"}, // ERR_ENDDOUBLEBUFFER
    {238, "Double buffering is not possible with transparent windows!"}, // ERR_DBTRANSWIN
    {239, "Could not find music %ld!"}, // ERR_FINDMUSIC
    {240, "Music is not playing!"}, // ERR_MUSNOTPLYNG
    {241, "Seek position out of range!"}, // ERR_SEEKRANGE
    {242, "Protracker modules and music streams cannot be mixed!"}, // ERR_MIXMUSMOD
    {243, "Unknown music format!"}, // ERR_UNKNOWNMUSFMT
    {244, "This music format does not support this functionality!"}, // ERR_MUSFMTSUPPORT
    {245, "Table or Nil expected!"}, // ERR_TABLEORNIL
    {246, "Cannot change a protected metatable!"}, // ERR_PROTMETATABLE
    {247, "Could not create task!"}, // ERR_ADDTASK
    {248, "Task setup failed!"}, // ERR_TASKSETUP
    {249, "Read position out of range!"}, // ERR_READRANGE
    {250, "Wrong backfill configuration!"}, // ERR_BACKFILL
    {251, "This function requires a double buffer!"}, // ERR_NODOUBLEBUFFER
    {252, "String is too short!"}, // ERR_STRTOOSHORT
    {253, "Cache error!"}, // ERR_CACHEERROR
    {254, "String expected in table argument \"%s\"!"}, // ERR_STRTABLEARG
    {255, "Error loading applet!"}, // ERR_APPLET
    {256, "%s is not a directory!"}, // ERR_NOTADIR
    {257, "Unknown text format!"}, // ERR_UNKTEXTFMT
    {258, "Syntax error in text formatting!"}, // ERR_TEXTSYNTAX
    {259, "Invalid argument in text formatting!"}, // ERR_TEXTARG
    {260, "Cannot open default font!"}, // ERR_DEFFONT
    {261, "Anti-aliasing is not supported for this font!"}, // ERR_ANTIALIAS
    {262, "Could not create port %s!"}, // ERR_CREATEPORT
    {263, "Scripting host is not available!"}, // ERR_NOREXX
    {264, "Scripting host error!"}, // ERR_REXXERR
    {265, "Callback function must return a string!"}, // ERR_STRCALLBACK
    {266, "Port %s is not available!"}, // ERR_PORTNOTAVAIL
    {267, "Invalid 8SVX file!"}, // ERR_BAD8SVX
    {268, "Compression format is not supported!"}, // ERR_CMPUNSUPPORTED
    {269, "Invalid WAVE file!"}, // ERR_BADWAVE
    {270, "Music is not paused!"}, // ERR_MUSNOTPAUSED
    {271, "Invalid configuration!"}, // ERR_CONFIG2
    {272, "Unknown executable type!"}, // ERR_EXETYPE
    {273, "Cannot open audio driver!"}, // ERR_OPENAUDIO
    {274, "Error saving picture!"}, // ERR_DATATYPESAVE
    {275, "Error saving picture in this format!"}, // ERR_DATATYPESAVE2
    {276, "Cannot load animation frame %ld!"}, // ERR_LOADFRAME
    {277, "This object type does not support layers!"}, // ERR_LAYERSUPPORT2
    {278, "Short If statement must be on one line!"}, // ERR_SHORTIF
    {279, "Your operating system is too old!"}, // ERR_SYSTOOOLD
    {280, "In function"}, // MSG_IN_FUNCTION
    {281, "Key %s not found!"}, // ERR_KEYNOTFOUND
    {282, "Could not find port %s!"}, // ERR_FINDPORT
    {283, "Value is too small!"}, // ERR_TOOSMALL2
    {284, "Error saving PNG file!"}, // ERR_SAVEPNG
    {285, "This feature requires a newer operating system!"}, // ERR_NOTIGER
    {286, "Opening file %s"}, // MSG_OPENING_FILE
    {287, "Loading applet %s"}, // MSG_LOADING_APPLET
    {288, "Music streams cannot be used as samples!"}, // ERR_STREAMASSAMPLE
    {289, "Error converting audio data!"}, // ERR_AUDIOCONVERTER
    {290, "Render callback failed!"}, // ERR_RENDERCALLBACK
    {291, "Could not set file attributes!"}, // ERR_SETFILEATTR
    {292, "Could not set file date!"}, // ERR_SETFILEDATE
    {293, "Could not set file comment!"}, // ERR_SETFILECOMMENT
    {294, "Invalid date specified!"}, // ERR_INVALIDDATE
    {295, "Error locking %s!"}, // ERR_LOCK2
    {296, "Could not create thread!"}, // ERR_THREAD
    {297, "This feature is not supported on this platform!"}, // ERR_UNSUPPORTEDFEAT
    {298, "No free audio channel available!"}, // ERR_NOCHANNEL
    {299, "Could not create event!"}, // ERR_CREATEEVENT
    {300, "Could not set sound notification!"}, // ERR_DSOUNDNOTIFY
    {301, "Could not set sound notification positions!"}, // ERR_DSOUNDNOTIPOS
    {302, "Could not play sound buffer!"}, // ERR_DSOUNDPLAY
    {303, "Could not read audio file properties!"}, // ERR_AFILEPROP
    {304, "Media decoder error!"}, // ERR_DIRECTSHOW
    {305, "Could not register window class!"}, // ERR_REGCLASS
    {306, "Could not create timer!"}, // ERR_TIMER
    {307, "Could not create semaphore!"}, // ERR_SEMAPHORE
    {308, "Only 8-bit and 16-bit samples are supported!"}, // ERR_8OR16BITONLY
    {309, "Display is minimized!"}, // ERR_DISPMINIMIZED
    {310, "Could not install input handler!"}, // ERR_COMMODITY
    {311, "Could not create message port!"}, // ERR_MSGPORT
    {312, "Text conversion failed!"}, // ERR_TEXTCONVERT
    {313, "Text layout error!"}, // ERR_ATSUI
    {314, "Syntax error in linked file description!"}, // ERR_LFSYNTAX
    {315, "Compression I/O error!"}, // ERR_ZLIBIO
    {316, "Compression stream error!"}, // ERR_ZLIBSTREAM
    {317, "Incompatible compression library version!"}, // ERR_ZLIBVERSION
    {318, "Compressed data is corrupt!"}, // ERR_ZLIBDATA
    {319, "Unknown compression format!"}, // ERR_PAKFORMAT
    {320, "Specified layer is not a text layer!"}, // ERR_NOTXTLAYER
    {321, "Double buffering is not possible with auto scaling!"}, // ERR_DDAUTOSCALE
    {322, "Layers cannot be disabled now!"}, // ERR_NODISLAYERS
    {323, "This object is currently in use!"}, // ERR_LOCKEDOBJ
    {324, "Error writing JPEG file!"}, // ERR_WRITEJPEG
    {325, "Video recording is not possible with double buffering!"}, // ERR_DDRECVIDEO
    {326, "This command cannot be used while recording video!"}, // ERR_WRONGCMDRECVIDEO
    {327, "Could not find directory handle %ld!"}, // ERR_FINDDIR
    {328, "Music %ld is not playing!"}, // ERR_MUSNOTPLYNG2
    {329, "Could not find pointer %ld!"}, // ERR_FINDPOINTER
    {330, "Invalid pointer image!"}, // ERR_POINTERIMG
    {331, "Cannot find Quillmere function at this offset!"}, // ERR_READFUNC
    {332, "Invalid Base64 data!"}, // ERR_BADBASE64
    {333, "This is not a Quillmere function!"}, // ERR_NOQMFUNC
    {334, "Not possible while sprites are on screen!"}, // ERR_SPRITEONSCREEN2
    {335, "Could not find async draw object!"}, // ERR_FINDASYNCDRAW
    {336, "Cannot free the current pointer!"}, // ERR_FREECURPOINTER
    {337, "Cannot find Quillmere table at this offset!"}, // ERR_READTABLE
    {338, "Layers cannot be switched while async drawing is active!"}, // ERR_LAYERSWITCH
    {339, "Video strategy is not supported!"}, // ERR_VIDEOSTRATEGY
    {340, "Invalid video strategy!"}, // ERR_WRONGVSTRATEGY
    {341, "Could not find font %s!"}, // ERR_FINDFONT
    {342, "Could not link font %s!"}, // ERR_LINKFONT
    {343, "Font %s is not available in this size!"}, // ERR_FINDFONT2
    {344, "Invalid font path!"}, // ERR_FONTPATH
    {345, "Unknown font format!"}, // ERR_FONTFORMAT
    {346, "Coordinate constants are not allowed here!"}, // ERR_NOCOORDCST
    {347, "Not possible with disk-based animations!"}, // ERR_ANIMDISK
    {348, "Cannot select anim %ld as output device!"}, // ERR_SELECTANIM
    {349, "Cannot modify an anim that is in use!"}, // ERR_MODIFYAANIM
    {350, "Could not find anim stream %ld!"}, // ERR_FINDANIMSTREAM
    {351, "This feature requires a newer operating system!"}, // ERR_NEEDMORPHOS2
    {352, "Alpha channel is not supported in this mode!"}, // ERR_SMODEALPHA
    {353, "Could not find display %ld!"}, // ERR_FINDDISPLAY
    {354, "A background picture cannot be shown on two displays!"}, // ERR_MULTIBGPIC
    {355, "Cannot free the active display!"}, // ERR_FREEADISPLAY
    {356, "Display is closed!"}, // ERR_CLOSEDDISPLAY
    {357, "Could not add application icon!"}, // ERR_ADDAPPICON
    {358, "Screen is too small!"}, // ERR_SCREENSIZE
    {359, "Different color depths are not allowed!"}, // ERR_DIFFDEPTH
    {360, "Video recording is not possible with multiple displays!"}, // ERR_VIDRECMULTI
    {361, "Video recording is not possible with transparent displays!"}, // ERR_VIDRECTRANS
    {362, "This feature requires a newer operating system!"}, // ERR_NEEDOS41
    {363, "Could not get system image!"}, // ERR_SYSIMAGE
    {364, "Could not create system button!"}, // ERR_SYSBUTTON
    {365, "Cannot open anim %s!"}, // ERR_OPENANIM2
    {366, "Cannot open sound %s!"}, // ERR_OPENSOUND2
    {367, "Cannot load image %s!"}, // ERR_LOADPICTURE2
    {368, "Could not allocate signal!"}, // ERR_SIGNAL
    {369, "Could not add application window!"}, // ERR_ADDAPPWIN
    {370, "Unsupported clipboard format!"}, // ERR_CLIPFORMAT
    {371, "Invalid sort function!"}, // ERR_SORTFUNC
    {372, "Syntax error in configuration file!"}, // ERR_INISYNTAX
    {373, "Could not open clipboard!"}, // ERR_CLIPOPEN
    {374, "Could not read from clipboard!"}, // ERR_CLIPREAD
    {375, "Cannot scale background picture!"}, // ERR_SCALEBGPIC
    {376, "Cannot select background picture %ld as output device!"}, // ERR_SELECTBGPIC
    {377, "Could not write to clipboard!"}, // ERR_CLIPWRITE
    {378, "Could not find layer %s!"}, // ERR_FINDLAYER
    {379, "Invalid insert position!"}, // ERR_INVINSERT
    {380, "Object is already drawn asynchronously!"}, // ERR_ALREADYASYNC
    {381, "Cannot remove a layer that is drawn asynchronously!"}, // ERR_REMADLAYER
    {382, "Name is too long!"}, // ERR_NAMETOOLONG
    {383, "Group name %s is already used!"}, // ERR_GROUPNAMEUSED
    {384, "Could not read registry key!"}, // ERR_REGISTRYREAD
    {385, "Could not write registry key!"}, // ERR_REGISTRYWRITE
    {386, "Cannot select the background picture that is currently displayed!"}, // ERR_SELECTBGPIC2
    {387, "Cannot modify the background picture that is currently displayed!"}, // ERR_MODIFYABGPIC
    {388, "Async draw object belongs to another display!"}, // ERR_ADFWRONGDISP
    {389, "Cannot free display while async drawing is active!"}, // ERR_ADFFREEDISP
    {390, "Sprite %ld is linked to another sprite!"}, // ERR_SPRITELINK
    {391, "All sprite frames must have the same size!"}, // ERR_WRONGSPRITESIZE
    {392, "Transparent brushes are not supported here!"}, // ERR_TRANSBRUSH
    {393, "Could not initialize input devices!"}, // ERR_DINPUT
    {394, "Joystick error!"}, // ERR_JOYSTICK
    {395, "Font engine error!"}, // ERR_FT2
    {396, "Icon size %s is not supported!"}, // ERR_ICONDIMS
    {397, "Wrong brush type!"}, // ERR_BRUSHTYPE
    {398, "Transformed vector brushes are not supported here!"}, // ERR_TFVBRUSH
    {399, "Wrong background picture type!"}, // ERR_BGPICTYPE
    {400, "Cannot convert a transformed vector brush to a background picture!"}, // ERR_TFVBRUSHBGPIC
    {401, "Cannot convert a transformed vector background picture to a brush!"}, // ERR_TFVBGPICBRUSH
    {402, "Could not find path %ld!"}, // ERR_FINDPATH
    {403, "Path is empty!"}, // ERR_EMPTYPATH
    {404, "Wrong vector font type!"}, // ERR_VFONTTYPE
    {405, "Vector font error!"}, // ERR_VFONT
    {406, "Could not create shortcut!"}, // ERR_CREATESHORTCUT
    {407, "Access denied!"}, // ERR_NOACCESS
    {408, "This feature is not available on this platform!"}, // ERR_BADPLATFORM
    {409, "This plugin requires at least Quillmere %s!"}, // ERR_NEWQMPLUGIN
    {410, "Plugin %s has an incompatible version!"}, // ERR_PLUGINVER
    {411, "Plugin %s was built for another architecture!"}, // ERR_PLUGINARCH
    {412, "Error loading image %s!"}, // ERR_IMAGEERROR
    {413, "Cannot render a layer that is drawn asynchronously!"}, // ERR_RENDERADLAYER
    {414, "No joystick at port %ld!"}, // ERR_NOJOYATPORT
    {415, "Could not find connection %ld!"}, // ERR_FINDCLIENT
    {416, "The following network error occurred:\n%s"}, // ERR_SOCKET
    {417, "Could not initialize base socket interface!"}, // ERR_OPENSOCKET
    {418, "Could not find server %ld!"}, // ERR_FINDSERVER
    {419, "Error setting socket options!"}, // ERR_SOCKOPT
    {420, "Error obtaining peer name!"}, // ERR_PEERNAME
    {421, "Error obtaining host name!"}, // ERR_HOSTNAME
    {422, "Unknown protocol in URL!"}, // ERR_UNKPROTOCOL
    {423, "Invalid URL specified!"}, // ERR_BADURL
    {424, "HTTP error %ld occurred!"}, // ERR_HTTPERROR
    {425, "Unsupported HTTP transfer mode!"}, // ERR_HTTPTE
    {426, "An error occurred during data send!"}, // ERR_SENDDATA
    {427, "FTP error %ld occurred!"}, // ERR_FTPERROR
    {428, "Receive timeout reached!"}, // ERR_RECVTIMEOUT
    {429, "Remote server has closed the connection!"}, // ERR_RECVCLOSED
    {430, "Unknown error while receiving data!"}, // ERR_RECVUNKNOWN
    {431, "File %s not found on this server!"}, // ERR_FILENOTFOUND
    {432, "Access denied for specified user/password!"}, // ERR_FTPAUTH
    {433, "No permission to upload file to %s!"}, // ERR_UPLOADFORBIDDEN
    {434, "Error obtaining socket name!"}, // ERR_SOCKNAME
    {435, "Could not find UDP object %ld!"}, // ERR_FINDUDPOBJECT
    {436, "Invalid IP specified!"}, // ERR_BADIP
    {437, "Could not open display connection!"}, // ERR_XDISPLAY
    {438, "Could not create graphics context!"}, // ERR_CREATEGC
    {439, "Could not create pipe!"}, // ERR_PIPE
    {440, "Toolkit error!"}, // ERR_GTK
    {441, "This feature requires a compositing window manager!"}, // ERR_NEEDCOMPOSITE
    {442, "No ARGB visual available!"}, // ERR_NOARGBVISUAL
    {443, "Display extension is missing!"}, // ERR_XFIXES
    {444, "Could not create cursor!"}, // ERR_XCURSOR
    {445, "Could not open PCM device!"}, // ERR_ALSAPCM
    {446, "Could not set environment variable!"}, // ERR_SETENV
    {447, "Could not unset environment variable!"}, // ERR_UNSETENV
    {448, "Video mode extension is missing!"}, // ERR_XF86VIDMODEEXT
    {449, "No display modes available!"}, // ERR_NODISPMODES
    {450, "Unknown filter %s!"}, // ERR_UNKNOWNFILTER
    {451, "No filter name specified!"}, // ERR_NOFILTERNAME
    {452, "Table expected in field %s!"}, // ERR_TABEXPECTED2
    {453, "Sample position out of range!"}, // ERR_SMPRANGE
    {454, "Not enough pixels!"}, // ERR_NOTENOUGHPIXELS
    {455, "Could not find video %ld!"}, // ERR_FINDVIDEO
    {456, "Cannot load video %s!"}, // ERR_LOADVIDEO
    {457, "Video is not playing!"}, // ERR_VIDNOTPLAYING
    {458, "Video is not paused!"}, // ERR_VIDNOTPAUSED
    {459, "Unsupported color space!"}, // ERR_COLORSPACE
    {460, "Media framework error!"}, // ERR_QUICKTIME
    {461, "Video is attached to a layer!"}, // ERR_VIDATTACHED
    {462, "Cannot grab a frame in this video state!"}, // ERR_FGRABVIDSTATE
    {463, "Video frame out of range!"}, // ERR_VIDEOFRAME
    {464, "Video transformation is not supported!"}, // ERR_VIDEOTRANS
    {465, "Error loading plugin \"%s\"!"}, // ERR_LOADPLUGIN
    {466, "This function requires a vector graphics plugin!"}, // ERR_VECGFXPLUGIN
    {467, "Invalid capture index!"}, // ERR_INVCAPIDX
    {468, "Invalid pattern capture!"}, // ERR_INVPATCAP
    {469, "Malformed pattern (ends with '%')!"}, // ERR_MALFORMPAT1
    {470, "Malformed pattern (missing ']')!"}, // ERR_MALFORMPAT2
    {471, "Unbalanced pattern!"}, // ERR_UNBALANCEDPAT
    {472, "Too many captures!"}, // ERR_TOOMANYCAPTURES
    {473, "Missing '[' after '%f' in pattern!"}, // ERR_MISSINGOPBRACK
    {474, "Unfinished capture!"}, // ERR_UNFINISHEDCAPTURE
    {475, "Error transforming image!"}, // ERR_TFIMAGE
    {476, "Error drawing path!"}, // ERR_DRAWPATH
    {477, "This feature is not available on mobile devices!"}, // ERR_MOBILE
    {478, "Double buffering is not supported on mobile devices!"}, // ERR_DDMOBILE
    {479, "Multiple displays are not supported on mobile devices!"}, // ERR_MULDISMOBILE
    {480, "Transparent background pictures are not supported on mobile devices!"}, // ERR_TRANSBGMOBILE
    {481, "Cannot modify a playing sample!"}, // ERR_MODIFYPSMP
    {482, "Callback function must return a table!"}, // ERR_TABCALLBACK
    {483, "Invalid callback return value!"}, // ERR_BADCALLBACKRET
    {484, "No callback function specified!"}, // ERR_NOCALLBACK
    {485, "Frequency is too low!"}, // ERR_LOWFREQ
    {486, "Could not find layer data %s!"}, // ERR_FINDLAYERDATA
    {487, "Directory patterns are not allowed here!"}, // ERR_NODIRPATTERN
    {488, "Seeking is not supported for this format!"}, // ERR_SEEKFORMAT
    {489, "Plugin type not recognized! (%s)"}, // ERR_PLUGINTYPE
    {490, "No music callback installed!"}, // ERR_NOMUSICCB
    {491, "No handler for this file format!"}, // ERR_NOFMBHANDLER
    {492, "Unknown image output format!"}, // ERR_UNKNOWNIMGOUT
    {493, "Error saving image!"}, // ERR_SAVEIMAGE
    {494, "Unknown animation output format!"}, // ERR_UNKNOWNANMOUT
    {495, "Error saving animation!"}, // ERR_SAVEANIM
    {496, "Unknown sample output format!"}, // ERR_UNKNOWNSMPOUT
    {497, "Error saving sample!"}, // ERR_SAVESAMPLE
    {498, "Userdata expected in argument %ld!"}, // ERR_UDEXPECTED
    {499, "Assertion failed!"}, // ERR_ASSERTFAILED
    {500, "This program requires %s!"}, // ERR_REQUIREPLUGIN
    {501, "Absolute path expected!"}, // ERR_NOABSPATH
    {502, "Could not find object data %s!"}, // ERR_FINDOBJECTDATA
    {503, "This function does not work with hardware brushes!"}, // ERR_HWBRUSH
    {504, "Hardware brushes are not supported by this function!"}, // ERR_HWBRUSHFUNC
    {505, "This saver does not support alpha channels!"}, // ERR_SAVERALPHA
    {506, "Video is paused!"}, // ERR_VIDPAUSED
    {507, "Video is playing!"}, // ERR_VIDPLAYING
    {508, "Invalid percent format in %s!"}, // ERR_PERCENTFORMATSTR
    {509, "Unsupported screen pixel format!"}, // ERR_SCRPIXFMT
    {510, "Cannot free a display that has satellites attached!"}, // ERR_SATFREEDISP
    {511, "Could not create icon!"}, // ERR_CREATEICON
    {512, "Could not read shortcut!"}, // ERR_GETSHORTCUT
    {513, "Unknown MIME type!"}, // ERR_UNKNOWNMIMETYPE
    {514, "No viewer for this MIME type!"}, // ERR_NOMIMEVIEWER
    {515, "Java runtime error!"}, // ERR_JAVA
    {516, "Could not find activity %s!"}, // ERR_FINDACTIVITY
    {517, "BeginRefresh() has not been called!"}, // ERR_BEGINREFRESH
    {518, "Video layers are not possible with double buffering!"}, // ERR_DBVIDEOLAYER
    {519, "Video layer error!"}, // ERR_VIDEOLAYER
    {520, "Video layers are not supported by this driver!"}, // ERR_VIDEOLAYERDRV
    {521, "Specified layer type does not support this functionality!"}, // ERR_BADLAYERTYPE
    {522, "Video is stopped!"}, // ERR_VIDSTOPPED
    {523, "This function is not supported for video layers!"}, // ERR_VIDLAYERFUNC
    {524, "Could not set adapter!"}, // ERR_SETADAPTER
    {525, "This function is not supported by the display adapter!"}, // ERR_DISPLAYADAPTERSUPPORT
    {526, "Could not open library %s!"}, // ERR_DLOPEN
    {527, "Error loading plugin symbol: %s"}, // ERR_PLUGINSYMBOL
    {528, "Could not allocate bitmap!"}, // ERR_BITMAP
    {529, "Satellite error!"}, // ERR_SATELLITE
    {530, "Could not read video pixels!"}, // ERR_READVIDEOPIXELS
    {531, "Cannot free display while hardware double buffering is active!"}, // ERR_HWDBFREEDISP
    {532, "Cannot close display while hardware bitmaps exist!"}, // ERR_HWBMCLOSEDISP
    {533, "Incompatible brush!"}, // ERR_INCOMPATBRUSH
    {534, "Could not add system event handler!"}, // ERR_ADDSYSEVENT
    {535, "Could not seek file!"}, // ERR_SEEKFILE
    {536, "Error closing file handle!"}, // ERR_CLOSEFILE
    {537, "Could not find plugin %s!"}, // ERR_FINDPLUGIN
    {538, "Plugin %s has already been loaded!"}, // ERR_PLUGINDOUBLET
    {539, "Application error!"}, // ERR_APPLICATION
    {540, "This function requires a registered application!"}, // ERR_NEEDAPPLICATION
    {541, "Could not find application %s!"}, // ERR_FINDAPPLICATION
    {542, "Could not send message!"}, // ERR_SENDMESSAGE
    {543, "Could not find menu %s!"}, // ERR_FINDMENU
    {544, "Menu tree is too complex!"}, // ERR_MENUCOMPLEXITY
    {545, "Could not create menu!"}, // ERR_CREATEMENU
    {546, "Could not get visual information!"}, // ERR_VISUALINFO
    {547, "Could not set menu!"}, // ERR_SETMENU
    {548, "Menu is attached to a display!"}, // ERR_MENUATTACHED
    {549, "Could not find menu item %s!"}, // ERR_FINDMENUITEM
    {550, "Display has no menu!"}, // ERR_NOMENU
    {551, "Menu tree is empty!"}, // ERR_EMPTYMENUTREE
    {552, "Tag expected!"}, // ERR_TAGEXPECTED
    {553, "Not possible in full screen mode!"}, // ERR_FULLSCREEN
    {554, "Could not create dock icon!"}, // ERR_CREATEDOCKY
    {555, "Could not update icon!"}, // ERR_UPDATEICON
    {556, "Menu %s is already in use!"}, // ERR_DOUBLEMENU
    {557, "Context menu error!"}, // ERR_CONTEXTMENU
    {558, "This function does not work with vector brushes!"}, // ERR_VECTORBRUSH
    {559, "No context menu!"}, // ERR_NOCONTEXTMENU
    {560, "Invalid keyboard shortcut!"}, // ERR_ACCELERATOR
    {561, "Could not find monitor %ld!"}, // ERR_FINDMONITOR
    {562, "Monitor is already in full screen mode!"}, // ERR_MONITORFULLSCREEN
    {563, "Specified monitor is out of range!"}, // ERR_MONITORRANGE
    {564, "Could not get monitor information!"}, // ERR_GETMONITORINFO
    {565, "Screen mode is not available!"}, // ERR_SCREENMODE
    {566, "Compression is not supported!"}, // ERR_NOCOMPRESS
    {567, "Could not grab screen!"}, // ERR_GRABSCREEN
    {568, "Could not allocate audio channel!"}, // ERR_ALLOCCHANNEL
    {569, "Syntax error in tag format!"}, // ERR_REQUIRETAGFMT
    {570, "Error allocating alpha channel!"}, // ERR_ALLOCALPHA
    {571, "Error allocating mask!"}, // ERR_ALLOCMASK
    {572, "This functionality is only available to applets compiled by Quillmere %s or higher!"}, // ERR_OLDAPPLET
    {573, "Music is paused!"}, // ERR_MUSPAUSED
    {574, "Music is playing!"}, // ERR_MUSPLAYING
    {575, "Invalid parameter for console argument!"}, // ERR_CONSOLEARG
    {576, "Error determining file size!"}, // ERR_FILESIZE
    {577, "Error examining file system object!"}, // ERR_STAT
    {578, "This server requires user authentification!"}, // ERR_REQAUTH
    {579, "Table field %s is missing!"}, // ERR_MISSINGFIELD
    {580, "Image \"%s\" does not have a transparent pen!"}, // ERR_NOTRANSPARENCY
    {581, "Legacy Protracker modules are not supported here!"}, // ERR_LEGACYPTMOD
    {582, "Channel %ld is out of range!"}, // ERR_CHANNELRANGE
    {583, "File format error!"}, // ERR_FILEFORMAT
    {584, "Could not link plugin %s!"}, // ERR_LINKPLUGIN
    {585, "Could not execute %s!"}, // ERR_EXECUTE
    {586, "Help viewer error!"}, // ERR_AMIGAGUIDE
    {587, nullptr},
    {588, nullptr},
    {589, nullptr},
    {590, nullptr},
    {591, nullptr},
    {592, nullptr},
    {593, nullptr},
    {594, nullptr},
    {595, nullptr},
    {596, nullptr},
    {597, nullptr},
    {598, nullptr},
    {599, nullptr},
    {600, "(Reason: %s)"}, // MSG_PLUGIN_REASON
    {601, nullptr},
    {602, nullptr},
    {603, nullptr},
    {604, nullptr},
    {605, nullptr},
    {606, nullptr},
    {607, nullptr},
    {608, nullptr},
    {609, nullptr},
    {610, nullptr},
    {611, nullptr},
    {612, nullptr},
    {613, nullptr},
    {614, nullptr},
    {615, nullptr},
    {616, nullptr},
    {617, nullptr},
    {618, nullptr},
    {619, nullptr},
    {620, nullptr},
    {621, nullptr},
    {622, nullptr},
    {623, nullptr},
    {624, nullptr},
    {625, nullptr},
    {626, nullptr},
    {627, nullptr},
    {628, nullptr},
    {629, nullptr},
    {630, nullptr},
    {631, nullptr},
    {632, nullptr},
    {633, nullptr},
    {634, nullptr},
    {635, nullptr},
    {636, nullptr},
    {637, nullptr},
    {638, nullptr},
    {639, nullptr},
    {640, nullptr},
    {641, nullptr},
    {642, nullptr},
    {643, nullptr},
    {644, nullptr},
    {645, nullptr},
    {646, nullptr},
    {647, nullptr},
    {648, nullptr},
    {649, nullptr},
    {650, nullptr},
    {651, nullptr},
    {652, nullptr},
    {653, nullptr},
    {654, nullptr},
    {655, nullptr},
    {656, nullptr},
    {657, nullptr},
    {658, nullptr},
    {659, nullptr},
    {660, nullptr},
    {661, nullptr},
    {662, nullptr},
    {663, nullptr},
    {664, nullptr},
    {665, nullptr},
    {666, nullptr},
    {667, nullptr},
    {668, nullptr},
    {669, nullptr},
    {670, nullptr},
    {671, nullptr},
    {672, nullptr},
    {673, nullptr},
    {674, nullptr},
    {675, nullptr},
    {676, nullptr},
    {677, nullptr},
    {678, nullptr},
    {679, nullptr},
    {680, nullptr},
    {681, nullptr},
    {682, nullptr},
    {683, nullptr},
    {684, nullptr},
    {685, nullptr},
    {686, nullptr},
    {687, nullptr},
    {688, nullptr},
    {689, nullptr},
    {690, nullptr},
    {691, nullptr},
    {692, nullptr},
    {693, nullptr},
    {694, nullptr},
    {695, nullptr},
    {696, nullptr},
    {697, nullptr},
    {698, nullptr},
    {699, nullptr},
    {700, "Arguments controlling the window style:"}, // option heading 0
    {701, "Arguments controlling full screen mode:"}, // option heading 1
    {702, "Arguments controlling backfill style:"}, // option heading 2
    {703, "Arguments controlling the scaling engine:"}, // option heading 3
    {704, "Arguments controlling the audio driver:"}, // option heading 4
    {705, "Arguments controlling plugins:"}, // option heading 5
    {706, "Arguments controlling debugger settings:"}, // option heading 6
    {707, "Miscellaneous arguments:"}, // option heading 7
    {708, "open script in a window (default)"}, // option WINDOW
    {709, "make window borderless"}, // option BORDERLESS
    {710, "allow window resizing"}, // option SIZEABLE
    {711, "forbid window dragging"}, // option FIXED
    {712, "forbid window minimizing"}, // option NOHIDE
    {713, "disable screen blanker while Quillmere is running"}, // option DISABLEBLANKER
    {714, "apply command line options to all displays"}, // option ALLDISPLAYS
    {715, "override restoration of previous display placements"}, // option OVERRIDEPLACEMENT
    {716, "open script in best available full screen mode"}, // option FULLSCREEN
    {717, "open script in fake full screen mode"}, // option FAKEFULLSCREEN
    {718, "prompt the user for full screen resolution"}, // option MODEREQUESTER
    {719, "allow the user to select between full screen and window mode"}, // option ASKDISPLAYMODE
    {720, "set width for custom full screen mode"}, // option SCRWIDTH
    {721, "set height for custom full screen mode"}, // option SCRHEIGHT
    {722, "set depth for custom full screen mode"}, // option SCRDEPTH
    {723, "set monitor to use for display"}, // option MONITOR
    {724, "automatically hide pointer when in full screen mode"}, // option HIDEPOINTER
    {725, "forbid hotkey switching between windowed and full screen modes"}, // option NOMODESWITCH
    {726, "enable backfill decoration"}, // option BACKFILL
    {727, "set start color to use for backfilling"}, // option STARTCOLOR
    {728, "set end color to use for backfilling"}, // option ENDCOLOR
    {729, "set image to be used for backfilling"}, // option BRUSHFILE
    {730, "alternative way of specifying backfill image"}, // option BRUSH
    {731, "scale backfill image to fit display size"}, // option SCALEPICTURE
    {732, "set x-position of backfill image (defaults to center)"}, // option PICXPOS
    {733, "set y-position of backfill image (defaults to center)"}, // option PICYPOS
    {734, "set transparent color for backfill image (defaults to no transparency)"}, // option PICTRANS
    {735, "position backfill above desktop title bar"}, // option HIDETITLEBAR
    {736, "enable auto scaling engine"}, // option AUTOSCALE
    {737, "enable layer scaling engine"}, // option LAYERSCALE
    {738, "set scaling engine output width"}, // option SCALEWIDTH
    {739, "set scaling engine output height"}, // option SCALEHEIGHT
    {740, "enable antialiased interpolation (slower)"}, // option SMOOTHSCALE
    {741, "do not allow distorted scaling"}, // option KEEPPROPORTIONS
    {742, "choose scaling resolution automatically from current desktop size"}, // option FITSCALE
    {743, "disable sound output"}, // option NOSOUND
    {744, "set number of available audio channels"}, // option NUMCHANNELS
    {745, "initialize the specified plugins"}, // option REQUIREPLUGINS
    {746, "specify tags to pass to plugin require functions"}, // option REQUIRETAGS
    {747, "skip loading specified plugins"}, // option SKIPPLUGINS
    {748, "set device for debug output"}, // option DEBUGDEVICE
    {749, "enable debug output"}, // option DEBUGOUTPUT
    {750, "force buffer flushing after every write to stdout"}, // option FORCEFLUSH
    {751, "do not call any debug functions"}, // option NODEBUG
    {752, "show this help information"}, // option HELP
    {753, "suppress Quillmere's startup output"}, // option QUIET
    {754, "store temporary files in this directory"}, // option TEMPDIR
    {755, "do not change directory to script's directory"}, // option NOCHDIR
    {756, "use low resolution software timer"}, // option SOFTTIMER
    {757, nullptr},
    {758, nullptr},
    {759, nullptr},
    {760, nullptr},
    {761, nullptr},
    {762, nullptr},
    {763, nullptr},
    {764, nullptr},
    {765, nullptr},
    {766, nullptr},
    {767, nullptr},
    {768, nullptr},
    {769, nullptr},
    {770, nullptr},
    {771, nullptr},
    {772, nullptr},
    {773, nullptr},
    {774, nullptr},
    {775, nullptr},
    {776, nullptr},
    {777, nullptr},
    {778, nullptr},
    {779, nullptr},
    {780, nullptr},
    {781, "Select Quillmere applet to run"}, // MSG_SELECT_APPLET
    {782, nullptr},
    {783, nullptr},
    {784, nullptr},
    {785, nullptr},
    {786, nullptr},
    {787, nullptr},
    {788, nullptr},
    {789, nullptr},
    {790, nullptr},
    {791, nullptr},
    {792, nullptr},
    {793, nullptr},
    {794, nullptr},
};
