<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' Posting: a new article in a group (post.asp?g=GROUP), or a reply to one of
' its articles (post.asp?g=GROUP&reply=NUMBER). The reply's subject, quoted
' text and References come from the article itself, read again from the
' server when the form is sent, so a visitor cannot forge them. After the
' post the article is read back from the server and shown.
Const MaxPostBytes = 200000   ' the whole form as it arrives
Const MaxTextChars = 100000   ' the article's text
Dim group, replyText, isReply, nntp, result, from, groups, subject, body, references, parentFrom
Dim i, lines, quoted, last, n, found, id, message, title
group = Request.QueryString("g") & ""
replyText = Request.QueryString("reply") & ""
isReply = (replyText <> "")
If isReply Then title = "Reply" Else title = "New article"
PageTop title
If Not GoodGroup(group) Then Refuse "That is not a newsgroup name."
If isReply And Not GoodNumber(replyText) Then Refuse "The article to answer must be a number."
' A body this large is refused before the form is even read.
If Request.TotalBytes > MaxPostBytes Then Refuse "The article is too long: at most " & MaxTextChars & " characters of text."

Set nntp = Server.CreateObject("Quillnet.MyNntp")
result = nntp.SetServer(NewsServer)
result = nntp.SetGroup(group)
If result <> session_ok Then Refuse "The group cannot be opened (" & result & "): " & nntp.GetLastError()

' The article answered: "Re: " once, its text quoted, its References and
' Message-ID as the new References.
If isReply Then
    result = nntp.SetArticle(CLng(replyText), 0)
    If result <> session_ok Then Refuse "There is no article " & replyText & " in " & group & " (" & result & ")."
    subject = nntp.GetMoreInfo(-1, info_subject)
    If LCase(Left(subject, 4)) <> "re: " Then subject = "Re: " & subject
    parentFrom = nntp.GetMoreInfo(-1, info_from)
    references = Trim(nntp.GetReferences(-1) & " " & nntp.GetMessageID(-1))
    lines = Split(Replace(nntp.GetText() & "", vbCr, ""), vbLf)
    quoted = parentFrom & " wrote:" & vbCrLf
    last = UBound(lines)
    If last >= 0 Then
        If lines(last) = "" Then last = last - 1
    End If
    For i = 0 To last
        If Left(lines(i), Len(AttachmentMarker)) <> AttachmentMarker Then quoted = quoted & "> " & lines(i) & vbCrLf
    Next
End If

' What each refusal of PostArticle means for the visitor.
Function PostError(code)
    Select Case code
        Case 1014: PostError = "The sender, the newsgroups and the subject must each be one line of text."
        Case 1015: PostError = "The newsgroups must be group names separated by commas."
        Case 1016: PostError = "Please give your name and mail address (From)."
        Case 1017: PostError = "Please give a subject."
        Case 1018: PostError = "A line of the text is longer than 998 characters; please break it into shorter lines."
        Case 1019: PostError = "The article answered has references that cannot be sent."
        Case 1021: PostError = "The sender or the newsgroups are too long to be sent."
        Case 1022: PostError = "The text holds a zero character; please remove it."
        Case -1: PostError = "The news server cannot be reached: " & nntp.GetLastError()
        Case 440, 441, 480
            PostError = "The news server refused the article (" & code & "): " & Mid(nntp.GetLastError(), 4)
            If code = 480 Or InStr(LCase(nntp.GetLastError()), "not allowed") > 0 Then PostError = PostError & _
                ". This group takes articles only from readers who log in with AUTHINFO over TLS; " & _
                "this site posts without a login."
        Case Else: PostError = "The article was not posted (" & code & "): " & nntp.GetLastError()
    End Select
End Function

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    from = Request.Form("from") & ""
    groups = Request.Form("newsgroups") & ""
    If Not isReply Then subject = Request.Form("subject") & ""
    body = Request.Form("body") & ""
    If Len(body) > MaxTextChars Then
        message = "The article is too long: at most " & MaxTextChars & " characters of text."
    ElseIf Len(from) > 200 Or Len(subject) > 300 Or Len(groups) > 500 Then
        message = "The sender, the newsgroups or the subject is too long."
    Else
        result = nntp.PostArticle(from, groups, subject, body, references)
        If result <> 0 Then message = PostError(result)
    End If
    If message = "" Then
        ' Read back: the newest window of the group holds the new article.
        found = -1
        id = nntp.GetPostedID()
        result = nntp.GetListing(nntp.GetLastArticle(), 0)
        n = nntp.GetListLength()
        For i = 0 To n - 1
            If nntp.GetMessageID(i) = id Then found = i
        Next
        If found < 0 Then Refuse "The article was posted as " & id & " but is not in " & group & " yet."
        result = nntp.SetArticle(found, 1)
        body = nntp.GetText()
%>
<p class="posted">Posted to <%= H(nntp.GetMoreInfo(-1, info_newsgroups)) %> as article <%= H(nntp.GetArticleID(found)) %>.</p>
<table class="headers">
<tr><th>From</th><td class="from"><%= H(nntp.GetMoreInfo(-1, info_from)) %></td></tr>
<tr><th>Subject</th><td class="subject"><%= H(nntp.GetMoreInfo(-1, info_subject)) %></td></tr>
<tr><th>Message-ID</th><td class="message-id"><%= H(nntp.GetMessageID(-1)) %></td></tr>
<tr><th>References</th><td class="references"><%= H(nntp.GetReferences(-1)) %></td></tr>
</table>
<pre class="body"><%= H(body) %></pre>
<p><a class="article" href="article.asp?g=<%= Server.URLEncode(group) %>&amp;n=<%= H(nntp.GetArticleID(found)) %>">The article</a> |
<a href="group.asp?g=<%= Server.URLEncode(group) %>&amp;sort=3">Back to <%= H(group) %> by thread</a></p>
<%
        PageBottom
        Response.End
    End If
%><p class="error"><%= H(message) %></p>
<%
Else
    groups = group
    from = "Reader <reader@example.invalid>"
    body = quoted
End If
%>
<form method="post" action="post.asp?g=<%= Server.URLEncode(group) %><% If isReply Then %>&amp;reply=<%= replyText %><% End If %>">
<table class="post">
<tr><th>From</th><td><input type="text" name="from" size="60" value="<%= H(from) %>"></td></tr>
<tr><th>Newsgroups</th><td><input type="text" name="newsgroups" size="60" value="<%= H(groups) %>"></td></tr>
<tr><th>Subject</th><td><% If isReply Then %><span class="subject"><%= H(subject) %></span><% Else %><input type="text" name="subject" size="60" value="<%= H(subject) %>"><% End If %></td></tr>
<tr><th>Text</th><td><textarea name="body" rows="16" cols="72"><%= H(body) %></textarea></td></tr>
</table>
<p><input type="submit" value="Post"> <a href="group.asp?g=<%= Server.URLEncode(group) %>">Back to <%= H(group) %></a></p>
</form>
<% PageBottom %>
