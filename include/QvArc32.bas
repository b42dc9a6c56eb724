Attribute VB_Name = "QvArc32"
' QvArc32.bas - Visual Basic declarations of the QvArc32 library (32-bit QvArc32.dll).
' Made from include/qvarc32.h by cmake/qv_exports.py; change the header, then run
'   python3 cmake/qv_exports.py bas include/qvarc32.h include/QvArc32.bas
' Text goes in and out as String (fill output buffers with Space$ first); buffers and
' optional records are As Any: pass the first element of an array, or ByVal 0& for none.
Option Explicit

' ---- Constants
Public Const QV_OK As Integer = 0
Public Const QV_E_BAD_NAME As Integer = 102
Public Const QV_E_PATH As Integer = 103
Public Const QV_E_FILE As Integer = 105
Public Const QV_E_HANDLE As Integer = 106
Public Const QV_E_MEMORY As Integer = 108
Public Const QV_E_NOT_ARCHIVE As Integer = -1
Public Const QV_E_NO_DIRECTORY As Integer = -2
Public Const QV_E_METHOD As Integer = -3
Public Const QV_E_CANCELLED As Integer = -4
Public Const QV_E_NOTHING As Integer = -7
Public Const QV_W_SKIPPED As Integer = -8
Public Const QV_E_OPTIONS As Integer = -9
Public Const QV_E_WRITE As Integer = -10
Public Const QV_E_EOF As Integer = -11
Public Const QV_E_TOO_LONG As Integer = -18
Public Const QV_E_NOTHING_NAMED As Integer = -19
Public Const QV_E_CONFLICT As Integer = -20
Public Const QV_E_TOO_MANY As Integer = -21
Public Const QV_E_BAD_DATE As Integer = -22
Public Const QV_E_ACCESS_MODE As Integer = -23
Public Const QV_E_PASSWORD As Integer = -24
Public Const QV_E_DATA As Integer = -25
Public Const QV_E_UNCHANGEABLE As Integer = -26
Public Const QV_E_NOT_STARTED As Integer = -27
Public Const QV_E_NOT_REMOVABLE As Integer = -28
Public Const QV_E_VERSION As Integer = -29
Public Const QV_E_PASSWORD_MISMATCH As Integer = -12345
Public Const QV_TYPE_NONE As Integer = 0
Public Const QV_TYPE_ZIP As Integer = 1
Public Const QV_TYPE_SPLIT12 As Integer = 2
Public Const QV_TYPE_SPANNED As Integer = 3
Public Const QV_TYPE_DIRVOLUME As Integer = 4
Public Const QV_TYPE_LHA As Integer = 5
Public Const QV_TYPE_ARJ As Integer = 6
Public Const QV_TYPE_ZOO As Integer = 7
Public Const QV_TYPE_ARC As Integer = 8
Public Const QV_TYPE_SQS As Integer = 9
Public Const QV_TYPE_SPLIT3 As Integer = 10
Public Const QV_TYPE_TAR As Integer = 11
Public Const QV_TYPE_GZIP As Integer = 12
Public Const QV_TYPE_EXE As Integer = 13
Public Const QV_OP_ZIPPING As Integer = 0
Public Const QV_OP_UNZIPPING As Integer = 1
Public Const QV_OP_DELETING As Integer = 2
Public Const QV_OP_TESTING As Integer = 3
Public Const QV_OP_INDEXING As Integer = 4
Public Const QV_STATUS_NOTICE As Integer = 0
Public Const QV_STATUS_QUESTION As Integer = 1
Public Const QV_STATUS_PROGRESS As Integer = 2
Public Const QV_ASK_INSERT_DISK As Integer = 1
Public Const QV_ASK_OVERWRITE As Integer = 2
Public Const QV_ASK_LAST_DISK As Integer = 3
Public Const QV_ANSWER_OK As Integer = 1
Public Const QV_ANSWER_CANCEL As Integer = 2
Public Const QV_ANSWER_YES As Integer = 6
Public Const QV_ANSWER_NO As Integer = 7
Public Const QV_ANSWER_DEFAULT_BOX As Integer = -10000
Public Const QV_NO_HANDLE As Long = -1
Public Const QV_OPEN_CHOOSE As Integer = 0
Public Const QV_OPEN_READ As Integer = 1
Public Const QV_OPEN_UPDATE As Integer = 2
Public Const QV_OPEN_CREATE As Integer = 3
Public Const QV_OPEN_LONGNAMES As Integer = 256
Public Const QV_NAME_BUFFER_SIZE As Integer = 261
Public Const QV_INFLATE_STATE_SIZE As Long = 39028

' ---- Records
' StatusBlock is packed: its fields do not lie where Visual Basic would put them, so
' the record is given as its 548 bytes; the QV_STATUSBLOCK_* constants are
' the offsets of its fields (Long and Integer values little-endian, text ANSI).
Public Type StatusBlock
    Bytes(0 To 547) As Byte
End Type
Public Const QV_STATUSBLOCK_SIZE As Long = 548
Public Const QV_STATUSBLOCK_ARCHIVENAME As Long = 0  ' char[260]
Public Const QV_STATUSBLOCK_FILENAME As Long = 260  ' char[260]
Public Const QV_STATUSBLOCK_OPERATION As Long = 520  ' int16_t
Public Const QV_STATUSBLOCK_TOTALSIZE As Long = 522  ' uint32_t
Public Const QV_STATUSBLOCK_PROCESSEDSIZE As Long = 526  ' uint32_t
Public Const QV_STATUSBLOCK_PACKEDSIZE As Long = 530  ' uint32_t
Public Const QV_STATUSBLOCK_METHOD As Long = 534  ' uint16_t
Public Const QV_STATUSBLOCK_RESERVED1 As Long = 536  ' uint16_t
Public Const QV_STATUSBLOCK_RESERVED2 As Long = 538  ' uint32_t
Public Const QV_STATUSBLOCK_KIND As Long = 542  ' int16_t
Public Const QV_STATUSBLOCK_CODE As Long = 544  ' int16_t
Public Const QV_STATUSBLOCK_DISK As Long = 546  ' int16_t

' DirectoryRecord is packed: its fields do not lie where Visual Basic would put them, so
' the record is given as its 46 bytes; the QV_DIRECTORYRECORD_* constants are
' the offsets of its fields (Long and Integer values little-endian, text ANSI).
Public Type DirectoryRecord
    Bytes(0 To 45) As Byte
End Type
Public Const QV_DIRECTORYRECORD_SIZE As Long = 46
Public Const QV_DIRECTORYRECORD_SIGNATURE As Long = 0  ' uint32_t
Public Const QV_DIRECTORYRECORD_VERSIONMADEBY As Long = 4  ' uint16_t
Public Const QV_DIRECTORYRECORD_VERSIONNEEDED As Long = 6  ' uint16_t
Public Const QV_DIRECTORYRECORD_FLAGS As Long = 8  ' uint16_t
Public Const QV_DIRECTORYRECORD_METHOD As Long = 10  ' uint16_t
Public Const QV_DIRECTORYRECORD_TIME As Long = 12  ' uint16_t
Public Const QV_DIRECTORYRECORD_DATE As Long = 14  ' uint16_t
Public Const QV_DIRECTORYRECORD_CRC32 As Long = 16  ' uint32_t
Public Const QV_DIRECTORYRECORD_COMPRESSEDSIZE As Long = 20  ' uint32_t
Public Const QV_DIRECTORYRECORD_UNCOMPRESSEDSIZE As Long = 24  ' uint32_t
Public Const QV_DIRECTORYRECORD_NAMELENGTH As Long = 28  ' uint16_t
Public Const QV_DIRECTORYRECORD_EXTRALENGTH As Long = 30  ' uint16_t
Public Const QV_DIRECTORYRECORD_COMMENTLENGTH As Long = 32  ' uint16_t
Public Const QV_DIRECTORYRECORD_DISKSTART As Long = 34  ' uint16_t
Public Const QV_DIRECTORYRECORD_INTERNALATTRIBUTES As Long = 36  ' uint16_t
Public Const QV_DIRECTORYRECORD_EXTERNALATTRIBUTES As Long = 38  ' uint32_t
Public Const QV_DIRECTORYRECORD_LOCALHEADEROFFSET As Long = 42  ' uint32_t

Public Type DirectoryRecordVB
    signature As Long
    crc32 As Long
    compressedSize As Long
    uncompressedSize As Long
    externalAttributes As Long
    localHeaderOffset As Long
    versionMadeBy As Integer
    versionNeeded As Integer
    flags As Integer
    method As Integer
    timeField As Integer
    dateField As Integer
    nameLength As Integer
    extraLength As Integer
    commentLength As Integer
    diskStart As Integer
    internalAttributes As Integer
End Type

' ---- Functions
Public Declare Function Qv4ZipOpen Lib "QvArc32.dll" (ByVal nameArg As String, ByVal mode As Long, ByRef handleOut As Long) As Integer
Public Declare Sub Qv4ZipClose Lib "QvArc32.dll" (ByRef handlePtr As Long)
Public Declare Function Qv4ZipPercent Lib "QvArc32.dll" (ByVal total As Long, ByVal remaining As Long) As Long
Public Declare Sub Qv4SetCPrint Lib "QvArc32.dll" (ByVal onArg As Long)
Public Declare Function Qv4GetCPrint Lib "QvArc32.dll" () As Long
Public Declare Sub Qv4CPrintHook Lib "QvArc32.dll" (ByVal callback As Long)
Public Declare Function Qv4ExtendedCPrintInfo Lib "QvArc32.dll" (ByVal count As Long, ByRef destination As Any) As Long
Public Declare Sub Qv4SetDoEvents Lib "QvArc32.dll" (ByVal onArg As Long)
Public Declare Function Qv4GetDoEvents Lib "QvArc32.dll" () As Long
Public Declare Sub Qv4Cancel Lib "QvArc32.dll" ()
Public Declare Sub Qv4SetParseType Lib "QvArc32.dll" (ByVal onArg As Long)
Public Declare Function Qv4GetParseType Lib "QvArc32.dll" () As Long
Public Declare Function Qv4GetParsePlace Lib "QvArc32.dll" () As Long
Public Declare Function QvFarAddr Lib "QvArc32.dll" (ByVal segment As Long, ByVal offset As Long) As Long
Public Declare Function QvLongLow Lib "QvArc32.dll" (ByVal value As Long) As Long
Public Declare Function QvLongHigh Lib "QvArc32.dll" (ByVal value As Long) As Long
Public Declare Function LSeg Lib "QvArc32.dll" (ByVal value As Long) As Long
Public Declare Function VarSeg Lib "QvArc32.dll" (ByVal value As Long) As Long
Public Declare Function VarPtr Lib "QvArc32.dll" (ByVal value As Long) As Long
Public Declare Function Qv4IdentifyFile Lib "QvArc32.dll" (ByVal nameArg As String, ByRef typeOut As Integer) As Integer
Public Declare Function Qv4ZipCount Lib "QvArc32.dll" (ByVal handle As Long, ByRef count As Integer) As Integer
Public Declare Function Qv4ZipComment Lib "QvArc32.dll" (ByVal handle As Long, ByVal comment As String, ByVal size As Long) As Integer
Public Declare Function Qv4GetCDR Lib "QvArc32.dll" (ByVal handle As Long) As Long
Public Declare Function Qv4GetNextCDR Lib "QvArc32.dll" (ByVal handle As Long) As Long
Public Declare Function Qv4ReadCDR Lib "QvArc32.dll" (ByVal handle As Long, ByRef position As Long, ByRef record As DirectoryRecord, ByVal nameArg As String, ByRef extra As Any, ByVal extraSize As Long, ByVal comment As String, ByVal commentSize As Long) As Integer
Public Declare Function Qv4ZipFindFirst Lib "QvArc32.dll" (ByVal handle As Long, ByRef record As DirectoryRecord, ByVal nameArg As String, ByRef extra As Any, ByVal extraSize As Long, ByVal comment As String, ByVal commentSize As Long) As Integer
Public Declare Function Qv4ZipFindNext Lib "QvArc32.dll" (ByVal handle As Long, ByRef record As DirectoryRecord, ByVal nameArg As String, ByRef extra As Any, ByVal extraSize As Long, ByVal comment As String, ByVal commentSize As Long) As Integer
Public Declare Function Qv4ZipFindFirstVB32 Lib "QvArc32.dll" (ByVal handle As Long, ByRef record As DirectoryRecordVB, ByVal nameArg As String, ByRef extra As Any, ByVal extraSize As Long, ByVal comment As String, ByVal commentSize As Long) As Integer
Public Declare Function Qv4ZipFindNextVB32 Lib "QvArc32.dll" (ByVal handle As Long, ByRef record As DirectoryRecordVB, ByVal nameArg As String, ByRef extra As Any, ByVal extraSize As Long, ByVal comment As String, ByVal commentSize As Long) As Integer
Public Declare Function Qv4EffectiveFileName Lib "QvArc32.dll" (ByVal storedName As String, ByRef extra As Any, ByVal extraLength As Long, ByVal outputArg As String) As Integer
Public Declare Function Qv4DirExist Lib "QvArc32.dll" (ByVal path As String) As Long
Public Declare Function Qv4AddUnZipPathFilter Lib "QvArc32.dll" (ByVal from As String, ByVal toArg As String) As Integer
Public Declare Function Qv4UnZip Lib "QvArc32.dll" (ByRef handle As Long, ByVal destination As String, ByVal specs As String, ByVal exclusions As String, ByVal options As String) As Integer
Public Declare Function Qv4QUnZip Lib "QvArc32.dll" (ByVal archiveName As String, ByVal destination As String, ByVal specs As String, ByVal options As String) As Integer
Public Declare Function Qv4UnZipPtr Lib "QvArc32.dll" (ByVal handle As Long, ByRef destination As Any, ByVal offset As Long, ByVal count As Long, ByVal nameArg As String, ByVal options As String) As Integer
Public Declare Function Qv4ZipCheckPassword Lib "QvArc32.dll" (ByVal archive As Long, ByRef record As DirectoryRecord, ByVal password As String) As Integer
Public Declare Function Qv4ZipCheckPasswordVB32 Lib "QvArc32.dll" (ByVal archive As Long, ByRef record As DirectoryRecordVB, ByVal password As String) As Integer
Public Declare Function QvCrc32A Lib "QvArc32.dll" (ByRef buffer As Any, ByVal length As Long, ByVal crc As Long) As Long
Public Declare Sub QvInitKeys Lib "QvArc32.dll" (ByRef password As Any, ByVal length As Long)
Public Declare Sub QvEncryptData Lib "QvArc32.dll" (ByRef buffer As Any, ByVal length As Long)
Public Declare Sub QvDecryptData Lib "QvArc32.dll" (ByRef buffer As Any, ByVal length As Long)
Public Declare Sub QvInitHeader Lib "QvArc32.dll" (ByRef header As Any, ByVal check As Long)
Public Declare Function QvInflateUCBufSize Lib "QvArc32.dll" () As Long
Public Declare Sub QvInflateUCInit Lib "QvArc32.dll" (ByRef state As Any)
Public Declare Function QvInflateUC Lib "QvArc32.dll" (ByRef inputArg As Any, ByVal inputOffset As Long, ByRef inputCount As Long, ByRef outputArg As Any, ByVal outputOffset As Long, ByRef outputCount As Long, ByRef state As Any, ByVal finalInput As Long) As Long
Public Declare Sub QvDeflateBufSize Lib "QvArc32.dll" (ByRef stateSize As Long, ByRef linkSize As Long, ByRef itemSize As Long)
Public Declare Sub QvDeflateInit Lib "QvArc32.dll" (ByRef state As Any, ByRef links As Any, ByRef items As Any)
Public Declare Function QvDeflate Lib "QvArc32.dll" (ByVal chainLimit As Long, ByVal dynamicTrees As Long, ByRef inBase As Any, ByVal inOffset As Long, ByRef inCount As Long, ByRef outBase As Any, ByVal outOffset As Long, ByRef outCount As Long, ByVal finish As Long, ByRef state As Any, ByRef links As Any, ByRef items As Any) As Long
Public Declare Sub Qv4ExpandDosTime Lib "QvArc32.dll" (ByVal timeArg As Long, ByRef hourArg As Integer, ByRef minuteArg As Integer, ByRef secondArg As Integer)
Public Declare Sub Qv4ExpandDosDate Lib "QvArc32.dll" (ByVal dateArg As Long, ByRef monthArg As Integer, ByRef dayArg As Integer, ByRef yearArg As Integer)
Public Declare Sub Qv4CompressDosTime Lib "QvArc32.dll" (ByVal hourArg As Long, ByVal minuteArg As Long, ByVal secondArg As Long, ByRef timeArg As Integer)
Public Declare Sub Qv4CompressDosDate Lib "QvArc32.dll" (ByVal monthArg As Long, ByVal dayArg As Long, ByVal yearArg As Long, ByRef dateArg As Integer)
Public Declare Function Qv4DosGetFileTime Lib "QvArc32.dll" (ByVal nameArg As String, ByRef dateArg As Integer, ByRef timeArg As Integer) As Integer
Public Declare Function Qv4DosSetFileTime Lib "QvArc32.dll" (ByVal nameArg As String, ByVal dateArg As Long, ByVal timeArg As Long) As Integer
Public Declare Function Qv4LfToCrLf Lib "QvArc32.dll" (ByVal source As String, ByVal destination As String, ByVal endMark As Long) As Integer
Public Declare Function Qv4CrLfToLf Lib "QvArc32.dll" (ByVal source As String, ByVal destination As String) As Integer
Public Declare Function Qv4UUEncode Lib "QvArc32.dll" (ByVal source As String, ByVal outputArg As String, ByVal splitSize As Long, ByVal separators As Long, ByRef partCount As Integer) As Integer
Public Declare Function Qv4UUDecode Lib "QvArc32.dll" (ByVal source As String, ByVal outputDirectory As String) As Integer
