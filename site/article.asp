<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The article page: headers, the text (HTML-encoded, emoticons as pictures)
' and the attachments the reader extracted, each picture with a thumbnail.
Dim group, number, nntp, result, text, lines, i, line, body, attachments, path, url, physical, talker, name, size
group = Request.QueryString("g") & ""
number = Request.QueryString("n") & ""
If Not GoodGroup(group) Then
    PageTop "Article"
    Refuse "That is not a newsgroup name."
End If
If Not GoodNumber(number) Then
    PageTop "Article"
    Refuse "The article number must be a number."
End If

Set nntp = NewQuillnet("Quillnet.MyNntp")
Set talker = Server.CreateObject("KestleDLL.Kestle")
result = nntp.SetServer(NewsServer)
result = nntp.SetGroup(group)
If result <> session_ok Then
    PageTop "Article"
    Refuse "The group cannot be opened (" & result & "): " & nntp.GetLastError()
End If
result = nntp.SetArticle(CLng(number), 0)
If result <> session_ok Then
    PageTop "Article " & number
    Refuse "There is no article " & number & " in " & group & " (" & result & "): " & nntp.GetLastError()
End If
text = nntp.GetText()
PageTop nntp.GetMoreInfo(-1, info_subject)
%>
<table class="headers">
<tr><th>From</th><td class="from"><%= H(nntp.GetMoreInfo(-1, info_from)) %></td></tr>
<tr><th>Date</th><td><%= H(nntp.GetMoreInfo(-1, info_date)) %></td></tr>
<tr><th>Newsgroups</th><td><%= H(nntp.GetMoreInfo(-1, info_newsgroups)) %></td></tr>
<tr><th>Subject</th><td class="subject"><%= talker.Smilies(H(nntp.GetMoreInfo(-1, info_subject))) %></td></tr>
</table>
<p><a href="group.asp?g=<%= Server.URLEncode(group) %>">Back to <%= H(group) %></a> |
<a class="mail" href="mail.asp?g=<%= Server.URLEncode(group) %>&amp;n=<%= number %>">Send this article by mail</a> |
<a class="reply" href="post.asp?g=<%= Server.URLEncode(group) %>&amp;reply=<%= number %>">Reply</a></p>
<%
' Marker lines name the extracted files; the rest is the text.
attachments = ""
lines = Split(Replace(text & "", vbCr, ""), vbLf)
For i = 0 To UBound(lines)
    line = lines(i)
    If Left(line, Len(AttachmentMarker)) = AttachmentMarker Then
        path = Mid(line, 17)
        url = StoreUrl(path)
        physical = StoreFile(path)
        name = Mid(path, InStrRev(path, "\") + 1)
        If fso.FileExists(physical) Then size = talker.ConvertFileSize(fso.GetFile(physical).Size) Else size = "missing"
        attachments = attachments & "<li><a class=""attachment"" href=""" & H(url) & """>" & H(name) & "</a> (" & size & ")"
        If IsPictureName(name) And size <> "missing" Then attachments = attachments & "<br>" & Thumbnail(physical, url)
        attachments = attachments & "</li>" & vbCrLf
    Else
        body = body & line & vbLf
    End If
Next
%>
<pre class="body"><%= talker.Smilies(H(body)) %></pre>
<% If attachments <> "" Then %>
<h2>Attachments</h2>
<ul class="attachments">
<%= attachments %></ul>
<% End If %>
<% PageBottom %>
