<%@ Language="VBScript" %>
<!-- #include file="common.inc" -->
<%
' The upload page: a form posting one file (field "file"); the page saves
' it into /uploads with SavePostedFile and shows what arrived.
Dim total, data, folder, name, physical, size, helper, url
PageTop "Upload a file"
If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    total = Request.TotalBytes
    If total = 0 Then Refuse "Nothing was posted."
    Set helper = Server.CreateObject("KestleDLL.Kestle")
    folder = Server.MapPath("/uploads")
    name = helper.SavePostedFile(Request.BinaryRead(total), folder)
    If name = "" Then Refuse "The form held no file."
    If name = "Bad Parameter" Or Left(name, 6) = "Error:" Then Refuse "The file was not saved: " & name
    physical = folder & "\" & name
    If Not fso.FileExists(physical) Then Refuse "The file was not saved."
    size = fso.GetFile(physical).Size
    If size = 0 Then
        fso.DeleteFile physical
        Refuse "The file " & name & " is empty (0 bytes); nothing was kept."
    End If
    url = "/uploads/" & Replace(Replace(Replace(Server.URLEncode(name), "+", "%20"), "%2E", "."), "%2D", "-")
%>
<p class="saved">Saved <a class="upload" href="<%= H(url) %>"><%= H(name) %></a>:
<span class="size"><%= size %></span> bytes (<%= helper.ConvertFileSize(size) %>).</p>
<% If IsPictureName(name) Then %><p class="thumbnail"><%= Thumbnail(physical, url) %></p><% End If %>
<%
End If
%>
<form method="post" action="upload.asp" enctype="multipart/form-data">
<p><input type="file" name="file"> <input type="submit" value="Upload"></p>
</form>
<% PageBottom %>
