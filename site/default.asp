<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The groups page: the server's groups as GetAllGroups keeps them in
' NewsList.txt ("count name" lines), fetched again on request.
Dim nntp, listFile, result, stream, line, gap, count, name, shown
listFile = Server.MapPath(StoreFolder & "/NewsList.txt")
PageTop "Newsgroups"
If Request.QueryString("refresh") <> "" Or Not fso.FileExists(listFile) Then
    Set nntp = NewQuillnet("Quillnet.MyNntp")
    result = nntp.SetServer(NewsServer)
    result = nntp.GetAllGroups()
    If result <> 0 Then Refuse "The group list could not be fetched (" & result & "): " & nntp.GetLastError()
End If
If Not fso.FileExists(listFile) Then Refuse "The news server gave no group list."
%>
<p><a href="/?refresh=1">Fetch the list again</a> from <%= H(NewsServer) %></p>
<table class="groups">
<tr><th>Group</th><th>Articles</th></tr>
<%
Set stream = fso.OpenTextFile(listFile, 1)
Do While Not stream.AtEndOfStream
    line = Trim(stream.ReadLine())
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
Loop
stream.Close
%>
</table>
<p><%= shown %> groups.</p>
<% PageBottom %>
