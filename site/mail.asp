<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' "Send this article by mail": the article's text goes to the address given
' through the local mail server.
Dim group, number, recipient, nntp, result, subject, text, mailer
group = Request.QueryString("g") & ""
number = Request.QueryString("n") & ""
recipient = Trim(Request.Form("to") & "")
PageTop "Send an article by mail"
If Not GoodGroup(group) Then Refuse "That is not a newsgroup name."
If Not GoodNumber(number) Then Refuse "The article number must be a number."

Set nntp = NewQuillnet("Quillnet.MyNntp")
result = nntp.SetServer(NewsServer)
result = nntp.SetGroup(group)
If result <> session_ok Then Refuse "The group cannot be opened (" & result & "): " & nntp.GetLastError()
result = nntp.SetArticle(CLng(number), 0)
If result <> session_ok Then Refuse "There is no article " & number & " in " & group & " (" & result & ")."
subject = nntp.GetMoreInfo(-1, info_subject)
text = nntp.GetText()

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    If Not Matches(recipient, "^[^\s<>@,;]+@[^\s<>@,;]+$") Then Refuse "That is not a mail address."
    Set mailer = NewQuillnet("Quillnet.MySmtp")
    result = mailer.SetServer(MailServer)
    If result = 0 Then result = mailer.SendMail(MailFrom, recipient, "Fwd: " & subject, _
        "Article " & number & " of " & group & ":" & vbCrLf & vbCrLf & text, "")
    If result <> 0 Then Refuse "The mail was not sent (" & result & ")."
%>
<p class="sent">Sent &quot;<%= H(subject) %>&quot; to <%= H(recipient) %>. See the <a href="mailbox.asp">mailbox</a>.</p>
<%
Else
%>
<p>Article <%= number %> of <%= H(group) %>: <strong><%= H(subject) %></strong></p>
<form method="post" action="mail.asp?g=<%= Server.URLEncode(group) %>&amp;n=<%= number %>">
<p>To: <input type="text" name="to" value="reader@example.invalid" size="40"> <input type="submit" value="Send"></p>
</form>
<%
End If
PageBottom
%>
