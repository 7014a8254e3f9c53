' Speed of the page helpers' text methods against the plain-VBScript code a
' page would otherwise run, in the same script engine process.
Option Explicit
Dim k : Set k = CreateObject("KestleDLL.Kestle")

' A 1 MB message with about 40,000 emoticons: a 128-byte chunk holding five,
' doubled 13 times.
Dim chunk, msg, i, smileys
chunk = "Hello there :) how are things ;) all good :D here, and you? :)) fine :x thanks, see you soon at the "
Do While Len(chunk) < 128 : chunk = chunk & "." : Loop
msg = chunk
For i = 1 To 13 : msg = msg & msg : Next
smileys = 5 * 2 ^ 13

Function ChainedReplace(s)
    Dim r
    r = Replace(s, ":))", "<IMG SRC='/images/smile7.gif'>")
    r = Replace(r, ":((", "<IMG SRC='/images/smile8.gif'>")
    r = Replace(r, ":-/", "<IMG SRC='/images/smile5.gif'>")
    r = Replace(r, ":)", "<IMG SRC='/images/smile1.gif'>")
    r = Replace(r, ":(", "<IMG SRC='/images/smile2.gif'>")
    r = Replace(r, ":D", "<IMG SRC='/images/smile4.gif'>")
    r = Replace(r, ":x", "<IMG SRC='/images/smile6.gif'>")
    r = Replace(r, ";)", "<IMG SRC='/images/smile3.gif'>")
    ChainedReplace = r
End Function

' Timer is coarse, so each side repeats until at least two seconds have passed.
Dim t0, n, ours, theirs, a, b
n = 0 : t0 = Timer
Do
    a = k.Smilies(msg) : n = n + 1
Loop While Timer - t0 < 2
ours = (Timer - t0) / n
n = 0 : t0 = Timer
Do
    b = ChainedReplace(msg) : n = n + 1
Loop While Timer - t0 < 2
theirs = (Timer - t0) / n
' What one string the size of the result costs the script engine itself:
' on machines where touching fresh memory is slow this is the floor of any
' method that returns such a string.
Dim floor, floorCopy
n = 0 : t0 = Timer
Do
    floorCopy = Left(a, Len(a) - 1) : n = n + 1
Loop While Timer - t0 < 2
floor = (Timer - t0) / n
WScript.Echo "Smilies: " & Len(msg) & " bytes, " & smileys & " emoticons, same output as chained Replace: " & (a = b)
WScript.Echo "  Kestle.Smilies   " & FormatNumber(ours * 1000, 2) & " ms per call"
WScript.Echo "  chained Replace  " & FormatNumber(theirs * 1000, 2) & " ms per call"
WScript.Echo "  ratio            " & FormatNumber(theirs / ours, 1) & "x faster (target: at least 25x)"
WScript.Echo "  script engine's own floor, Left() of a string the result's size: " & FormatNumber(floor * 1000, 2) & " ms"
WScript.Echo "  ratio Smilies/floor " & FormatNumber(ours / floor, 2) & " (target: at most 1.5)"

Function SizeText(size)
    If size < 1024 Then
        SizeText = FormatNumber(size, 0, , , 0) & " Bytes"
    ElseIf size < 1048576 Then
        SizeText = FormatNumber(Fix(size / 1024), 0, , , 0) & " KB"
    ElseIf size < 1073741824 Then
        SizeText = FormatNumber(Fix(size / 1048576), 0, , , 0) & " MB"
    Else
        SizeText = FormatNumber(Fix(size / 1073741824), 0, , , 0) & " GB"
    End If
End Function

Const calls = 100000
Dim s, mismatch, loopCost : mismatch = 0
' The interpreter's own cost of one loop turn with an assignment, measured so
' it can be taken out of both sides.
t0 = Timer
For i = 1 To calls
    s = i * 21473
Next
loopCost = (Timer - t0) / calls
t0 = Timer
For i = 1 To calls
    s = k.ConvertFileSize(i * 21473)
Next
ours = (Timer - t0) / calls
t0 = Timer
For i = 1 To calls
    s = SizeText(i * 21473)
Next
theirs = (Timer - t0) / calls
For i = 1 To 1000
    If k.ConvertFileSize(i * 2147483) <> SizeText(i * 2147483) Then mismatch = mismatch + 1
Next
WScript.Echo "ConvertFileSize: " & calls & " late-bound calls, results differing from the script function: " & mismatch
WScript.Echo "  Kestle.ConvertFileSize  " & FormatNumber(ours * 1000000, 2) & " us per call"
WScript.Echo "  script function         " & FormatNumber(theirs * 1000000, 2) & " us per call"
WScript.Echo "  loop turn alone         " & FormatNumber(loopCost * 1000000, 2) & " us"
WScript.Echo "  share                   " & FormatNumber(ours / theirs, 2) & " of the script's time, loop included (target: at most 0.25)"
If theirs > loopCost Then WScript.Echo "  share, loop taken out   " & FormatNumber((ours - loopCost) / (theirs - loopCost), 2)
