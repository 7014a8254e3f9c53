<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The groups page: the server's groups as GetAllGroups keeps them in
' NewsList.txt ("count name" lines), fetched again on request.
Dim nntp, listFile, result, line, gap, count, name, shown

' The whole list, the file held only while it is read: Wine's
' FileSystemObject opens a file for itself alone, so a page reading the list
' while another reads it is refused for a moment, and tries again; a new list
' from GetAllGroups waits for readers to let go.
Function ReadList(path)
    Dim tries, stream
    On Error Resume Next
    For tries = 1 To 500
        Err.Clear
        Set stream = fso.OpenTextFile(path, 1)
        If Err.Number = 0 Then Exit For
    Next
    On Error GoTo 0
    If tries > 500 Then Set stream = fso.OpenTextFile(path, 1)
    If stream.AtEndOfStream Then ReadList = "" Else ReadList = stream.ReadAll()
    stream.Close
End Function

listFile = Server.MapPath(StoreFolder & "/NewsList.txt")
PageTop "Newsgroups"
If Request.QueryString("refresh") <> "" Or Not fso.FileExists(listFile) Then
    Set nntp = NewQuillnet("Quillnet.MyNntp")
    result = nntp.SetServer(NewsServer)
    result = nntp.GetAllGroups()
    If result <> session_ok Then Refuse "The group list could not be fetched (" & result & "): " & nntp.GetLastError()
End If
If Not fso.FileExists(listFile) Then Refuse "The news server gave no group list."
%>
<p><a href="/?refresh=1">Fetch the list again</a> from <%= H(NewsServer) %></p>
<table class="groups">
<tr><th>Group</th><th>Articles</th></tr>
<%
For Each line In Split(Replace(ReadList(listFile), vbCr, ""), vbLf)
    line = Trim(line)
    gap = InStr(line, " ")
    If gap > 1 Then
        count = Left(line, gap - 1)
        name = Mid(line, gap + 1)
        If GoodGroup(name) Then
            shown = shown + 1
%><tr><td><a class="group" href="group.asp?g=<%= Server.URLEncode(name) %>"><%= H(name) %></a></td><td class="num"><%= H(count) %></td></tr>
<%
        End If
    End If
Next
%>
</table>
<p><%= shown %> groups.</p>
<% PageBottom %>
