' Kestle's text helpers and the placeholders, called by name as a page does.
Option Explicit
Dim failures : failures = 0
Sub Check(name, actual, expected)
    If actual <> expected Then
        WScript.Echo "FAIL " & name & ": got [" & actual & "] expected [" & expected & "]"
        failures = failures + 1
    End If
End Sub

Dim k : Set k = CreateObject("KestleDLL.Kestle")
Check "smile1", k.Smilies("a :) b"), "a <IMG SRC='/images/smile1.gif'> b"
Check "greedy", k.Smilies(":)))"), "<IMG SRC='/images/smile7.gif'>)"
Check "no token", k.Smilies(":-) :X :d"), ":-) :X :d"
Check "empty", k.Smilies(""), ""
Check "wink at end", k.Smilies("ok;)"), "ok<IMG SRC='/images/smile3.gif'>"
Check "size 0", k.ConvertFileSize(0), "0 Bytes"
Check "size 1535", k.ConvertFileSize(1535), "1 KB"
Check "size max", k.ConvertFileSize(2147483647), "1 GB"
Check "size neg", k.ConvertFileSize(-5), "-5 Bytes"
Check "size from text", k.ConvertFileSize("1048576"), "1 MB"

Dim v : Set v = CreateObject("KestleDLL.Kestle.1")
Check "versioned progid", v.ConvertFileSize(2048), "2 KB"

Dim c : Set c = CreateObject("KestleDLL.KestleCapture")
Check "connect", c.Connect(5), 0
Check "disconnect", c.Disconnect(), 0
Check "device property", c.DeviceProperty(1, 2), ""
Check "device property type", TypeName(c.DeviceProperty(1, 2)), "String"

Dim chat : Set chat = CreateObject("KestleDLL.KestleChat")
Check "chat type", TypeName(chat), "IKestleChat"

On Error Resume Next
Dim alert : Set alert = CreateObject("KestleDLL.KestleAlert")
Check "alert not creatable", (Err.Number <> 0), True
Err.Clear
Dim bad : bad = k.ConvertFileSize("lots")
Check "type mismatch reported", (Err.Number <> 0), True
Err.Clear
bad = k.NoSuchMethod(1)
Check "unknown member reported", (Err.Number <> 0), True
On Error GoTo 0

If failures = 0 Then WScript.Echo "ALL TESTS PASSED"
