' A sample page: what an ASP page does with the two libraries, printed as the
' HTML fragment the page would send.
Option Explicit
Dim helper, list, i, posts
Set helper = CreateObject("KestleDLL.Kestle")
Set list = CreateObject("Quillnet.ArticleManager")

list.Add 1042, 2348, "Re: build fails on Wine :("
list.Add 1007, 1550000, "Holiday pictures ;) [1/3]"
list.Add 1033, 512, "Hello everyone :)"
list.Add 1021, 73000, "FAQ: read this first :D"
list.Sort 0

WScript.Echo "<h2>Articles " & list.FirstArticle & " to " & list.LastArticle & "</h2>"
WScript.Echo "<table>"
For i = 0 To list.Size - 1
    WScript.Echo "  <tr><td>" & list.ArticleID(i) & "</td><td>" & helper.Smilies(list.ArticleSubject(i)) & _
        "</td><td>" & list.ArticleSizeStr(i) & "</td><td>" & helper.ConvertFileSize(list.ArticleSize(i)) & "</td></tr>"
Next
WScript.Echo "</table>"
